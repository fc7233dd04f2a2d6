#include "tools/json_view.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace tools {

namespace {

// nlohmann's messages start with an exception tag that means nothing to a reader.
std::string WithoutTag(const std::string& Message) {
  const size_t Tag = Message.find("] ");
  return Message.rfind("[json.exception", 0) == 0 && Tag != std::string::npos
             ? Message.substr(Tag + 2)
             : Message;
}

const char* TypeName(const nlohmann::json& J) {
  return J.type_name();
}

int HexDigit(char C) {
  if (C >= '0' && C <= '9') {
    return C - '0';
  }
  C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return C >= 'a' && C <= 'f' ? C - 'a' + 10 : -1;
}

} // namespace

nlohmann::json ParseJsonText(const std::string& Text, const std::string& Name) {
  try {
    return nlohmann::json::parse(Text);
  } catch (const nlohmann::json::parse_error& E) {
    throw InputError(Name + ": not valid JSON: " + WithoutTag(E.what()));
  }
}

nlohmann::json ReadJsonFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    throw InputError(Path + ": cannot be read");
  }
  std::ostringstream Text;
  Text << In.rdbuf();
  return ParseJsonText(Text.str(), Path);
}

JsonView::JsonView(const nlohmann::json& Value, std::string Name)
    : JsonView(&Value, std::make_shared<const std::string>(std::move(Name)), "") {}

JsonView::JsonView(const nlohmann::json* Value, std::shared_ptr<const std::string> Name,
                   std::string Place)
    : Value_(Value), Name_(std::move(Name)), Place_(std::move(Place)) {}

void JsonView::Fail(const std::string& Problem) const {
  throw InputError(*Name_ + ": " + (Place_.empty() ? "top level" : Place_) + ": " + Problem);
}

void JsonView::ExpectObject() const {
  if (!Value_->is_object()) {
    Fail(std::string("expected an object, found ") + TypeName(*Value_));
  }
}

void JsonView::AllowOnly(std::initializer_list<const char*> Allowed) const {
  AllowOnly(std::vector<std::string>(Allowed.begin(), Allowed.end()));
}

void JsonView::AllowOnly(const std::vector<std::string>& Allowed) const {
  ExpectObject();
  for (const auto& Item : Value_->items()) {
    bool Known = false;
    std::string List;
    for (const std::string& A : Allowed) {
      Known = Known || Item.key() == A;
      List += (List.empty() ? "" : ", ") + A;
    }
    if (!Known) {
      Member(Item.key()).Fail("unknown field; expected one of: " + List);
    }
  }
}

bool JsonView::Has(const char* Key) const {
  ExpectObject();
  return Value_->contains(Key);
}

JsonView JsonView::Member(const std::string& Key) const {
  ExpectObject();
  const std::string Place = Place_.empty() ? Key : Place_ + "." + Key;
  auto It = Value_->find(Key);
  if (It == Value_->end()) {
    JsonView(Value_, Name_, Place).Fail("missing");
  }
  return JsonView(&*It, Name_, Place);
}

JsonView JsonView::operator[](const char* Key) const {
  return Member(Key);
}

std::vector<std::string> JsonView::Keys() const {
  ExpectObject();
  std::vector<std::string> Out;
  for (const auto& Item : Value_->items()) {
    Out.push_back(Item.key());
  }
  return Out;
}

size_t JsonView::Size() const {
  if (!Value_->is_array()) {
    Fail(std::string("expected an array, found ") + TypeName(*Value_));
  }
  return Value_->size();
}

JsonView JsonView::operator[](size_t Index) const {
  Size();
  return JsonView(&(*Value_)[Index], Name_, Place_ + "[" + std::to_string(Index) + "]");
}

uint64_t JsonView::Unsigned(uint64_t Max) const {
  return Unsigned(0, Max);
}

uint64_t JsonView::Unsigned(uint64_t Min, uint64_t Max) const {
  uint64_t Value = 0;
  if (Value_->is_number_unsigned()) {
    Value = Value_->get<uint64_t>();
  } else if (Value_->is_number_integer() || Value_->is_number_float()) {
    Fail("expected a whole number from " + std::to_string(Min) + " to " + std::to_string(Max) +
         ", found " + Value_->dump());
  } else if (Value_->is_string()) {
    const std::string Text = Value_->get<std::string>();
    const bool IsHex = Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X');
    size_t Used = 0;
    try {
      Value = std::stoull(IsHex ? Text.substr(2) : Text, &Used, IsHex ? 16 : 10);
    } catch (const std::exception&) {
      Used = 0;
    }
    if (Used == 0 || Used != Text.size() - (IsHex ? 2 : 0) || Text[IsHex ? 2 : 0] == '-' ||
        Text[IsHex ? 2 : 0] == '+') {
      Fail("expected a number (decimal, or hexadecimal with 0x), found \"" + Text + "\"");
    }
  } else {
    Fail(std::string("expected a number, found ") + TypeName(*Value_));
  }
  if (Value < Min || Value > Max) {
    Fail(std::to_string(Value) + " is out of range; expected " + std::to_string(Min) + " to " +
         std::to_string(Max) + " (" + HexNumber(Min, 0) + " to " + HexNumber(Max, 0) + ")");
  }
  return Value;
}

bool JsonView::Bool() const {
  if (!Value_->is_boolean()) {
    Fail(std::string("expected true or false, found ") + TypeName(*Value_));
  }
  return Value_->get<bool>();
}

std::string JsonView::String() const {
  if (!Value_->is_string()) {
    Fail(std::string("expected a string, found ") + TypeName(*Value_));
  }
  return Value_->get<std::string>();
}

std::vector<uint8_t> JsonView::HexBytes() const {
  const std::string Text = String();
  std::vector<uint8_t> Bytes;
  int High = -1;
  for (char C : Text) {
    if (C == ' ' && High < 0) {
      continue;
    }
    const int Digit = HexDigit(C);
    if (Digit < 0) {
      Fail("expected hexadecimal byte pairs such as \"01 0A FF\", found \"" + Text + "\"");
    }
    if (High < 0) {
      High = Digit;
    } else {
      Bytes.push_back(static_cast<uint8_t>(High * 16 + Digit));
      High = -1;
    }
  }
  if (High >= 0) {
    Fail("an odd number of hexadecimal digits in \"" + Text + "\"");
  }
  return Bytes;
}

} // namespace tools
