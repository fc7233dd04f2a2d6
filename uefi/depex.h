// PI dependency expressions: the postfix byte code that the DXE dispatcher evaluates to decide
// when a driver may start, and a compile-time encoder for the one shape the driver uses, "all of
// these protocols are installed".
#pragma once

#include "uefi/types.h"

// Opcodes of a DXE dependency expression.
enum EFI_DEP_OPCODE : UINT8 {
  EFI_DEP_BEFORE = 0x00, // a file GUID follows; the only opcode before END
  EFI_DEP_AFTER = 0x01,  // a file GUID follows; the only opcode before END
  EFI_DEP_PUSH = 0x02,   // a protocol GUID follows: TRUE while that protocol is installed
  EFI_DEP_AND = 0x03,
  EFI_DEP_OR = 0x04,
  EFI_DEP_NOT = 0x05,
  EFI_DEP_TRUE = 0x06,
  EFI_DEP_FALSE = 0x07,
  EFI_DEP_END = 0x08, // the last opcode
  EFI_DEP_SOR = 0x09, // schedule on request; only as the first opcode
};

constexpr UINTN DepexPushSize = 1 + sizeof(EFI_GUID);

// PUSH of each of N GUIDs, an AND behind every PUSH after the first, then END: 18 N bytes.
template <UINTN N> struct AllProtocolsDepex {
  static_assert(N > 0, "an expression needs at least one protocol");
  UINT8 Bytes[N * DepexPushSize + (N - 1) + 1];
};

// The 16 bytes of a GUID as firmware keeps them in memory: Data1 to Data3 little-endian, Data4 in
// order.
constexpr void PutGuidBytes(UINT8* Out, const EFI_GUID& Guid) {
  for (UINTN I = 0; I < 4; ++I) {
    Out[I] = static_cast<UINT8>(Guid.Data1 >> (8 * I));
  }
  for (UINTN I = 0; I < 2; ++I) {
    Out[4 + I] = static_cast<UINT8>(Guid.Data2 >> (8 * I));
    Out[6 + I] = static_cast<UINT8>(Guid.Data3 >> (8 * I));
  }
  for (UINTN I = 0; I < 8; ++I) {
    Out[8 + I] = Guid.Data4[I];
  }
}

template <UINTN N>
constexpr AllProtocolsDepex<N> EncodeAllProtocolsDepex(const EFI_GUID (&Guids)[N]) {
  AllProtocolsDepex<N> Expression{};
  UINTN At = 0;
  for (UINTN I = 0; I < N; ++I) {
    Expression.Bytes[At++] = EFI_DEP_PUSH;
    PutGuidBytes(Expression.Bytes + At, Guids[I]);
    At += sizeof(EFI_GUID);
    if (I > 0) {
      Expression.Bytes[At++] = EFI_DEP_AND;
    }
  }
  Expression.Bytes[At] = EFI_DEP_END;
  return Expression;
}
