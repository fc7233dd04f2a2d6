// The memory routines the compiler calls on its own: clang emits memset and memcpy for zeroing and
// copying structures even in a freestanding build, and memmove and memcmp when it lowers
// overlapping copies and byte comparisons. Firmware offers no C library, so the image carries its
// own.
//
// Every access goes through a volatile pointer: otherwise the optimiser recognises each loop as the
// very routine it implements and compiles it into a call to itself. The driver copies only small
// structures and buffers, so byte-at-a-time is fast enough.
#include <stddef.h>
#include <stdint.h>

extern "C" {

void* memset(void* Destination, int Value, size_t Size) {
  volatile unsigned char* To = static_cast<volatile unsigned char*>(Destination);
  const unsigned char Byte = static_cast<unsigned char>(Value);
  for (size_t I = 0; I < Size; ++I) {
    To[I] = Byte;
  }
  return Destination;
}

void* memcpy(void* Destination, const void* Source, size_t Size) {
  volatile unsigned char* To = static_cast<volatile unsigned char*>(Destination);
  const volatile unsigned char* From = static_cast<const volatile unsigned char*>(Source);
  for (size_t I = 0; I < Size; ++I) {
    To[I] = From[I];
  }
  return Destination;
}

void* memmove(void* Destination, const void* Source, size_t Size) {
  volatile unsigned char* To = static_cast<volatile unsigned char*>(Destination);
  const volatile unsigned char* From = static_cast<const volatile unsigned char*>(Source);
  // A destination above the source would overwrite bytes not yet read if copied forwards.
  if (reinterpret_cast<uintptr_t>(Destination) > reinterpret_cast<uintptr_t>(Source)) {
    for (size_t I = Size; I > 0; --I) {
      To[I - 1] = From[I - 1];
    }
  } else {
    for (size_t I = 0; I < Size; ++I) {
      To[I] = From[I];
    }
  }
  return Destination;
}

int memcmp(const void* Left, const void* Right, size_t Size) {
  const volatile unsigned char* A = static_cast<const volatile unsigned char*>(Left);
  const volatile unsigned char* B = static_cast<const volatile unsigned char*>(Right);
  for (size_t I = 0; I < Size; ++I) {
    const unsigned char X = A[I];
    const unsigned char Y = B[I];
    if (X != Y) {
      return X < Y ? -1 : 1;
    }
  }
  return 0;
}

} // extern "C"
