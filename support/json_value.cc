#include "support/json_value.h"

#include <utility>

JsonValue::JsonValue() = default;

JsonValue::JsonValue(JsonKind kind) {
  switch (kind) {
    case JsonKind::Null:
      break;
    case JsonKind::String:
      kind_ = kind;
      tag_ = JsonTag::VT_BSTR;
      payload_ = std::u16string();
      break;
    case JsonKind::Number:
      SetInteger(0, JsonTag::VT_I4);
      break;
    case JsonKind::Boolean:
      kind_ = kind;
      tag_ = JsonTag::VT_BOOL;
      payload_ = false;
      break;
    case JsonKind::Object:
      kind_ = kind;
      tag_ = JsonTag::VT_DISPATCH;
      payload_ = std::make_unique<JsonObject>();
      break;
    case JsonKind::Array:
      kind_ = kind;
      tag_ = JsonTag::VT_ARRAY;
      payload_ = std::make_unique<JsonArray>();
      break;
    default:
      kind_ = kind;
      tag_ = JsonTag::VT_EMPTY;
      break;
  }
}

JsonValue::JsonValue(const char16_t* text)
    : JsonValue(text ? std::u16string_view(text) : std::u16string_view()) {}

JsonValue::JsonValue(std::u16string_view text)
    : tag_(JsonTag::VT_BSTR), kind_(JsonKind::String), payload_(std::u16string(text)) {}

JsonValue::JsonValue(double number) { SetFloat(number, JsonTag::VT_R8); }

JsonValue::JsonValue(int32_t number) { SetInteger(number, JsonTag::VT_I4); }

JsonValue::JsonValue(const JsonObject& object)
    : tag_(JsonTag::VT_DISPATCH),
      kind_(JsonKind::Object),
      payload_(std::make_unique<JsonObject>()) {
  // Copied member by member so that nested containers are copied without
  // recursion too.
  JsonObject& mine = *std::get<std::unique_ptr<JsonObject>>(payload_);
  for (const auto& [name, member] : object) mine.emplace_hint(mine.end(), name, member);
}

JsonValue::JsonValue(const JsonArray& array)
    : tag_(JsonTag::VT_ARRAY), kind_(JsonKind::Array), payload_(std::make_unique<JsonArray>()) {
  std::get<std::unique_ptr<JsonArray>>(payload_)->assign(array.begin(), array.end());
}

JsonValue::JsonValue(const JsonValue& other) { CopyFrom(other); }

JsonValue::JsonValue(JsonValue&& other) noexcept
    : tag_(other.tag_),
      kind_(other.kind_),
      payload_(std::move(other.payload_)),
      memberOrder_(std::move(other.memberOrder_)) {
  other.tag_ = JsonTag::VT_NULL;
  other.kind_ = JsonKind::Null;
  other.payload_ = std::monostate();
  other.memberOrder_.clear();
}

JsonValue& JsonValue::operator=(const JsonValue& other) {
  if (this != &other) {
    JsonValue copy(other);
    *this = std::move(copy);
  }
  return *this;
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
  if (this != &other) {
    Clear();
    tag_ = other.tag_;
    kind_ = other.kind_;
    payload_ = std::move(other.payload_);
    memberOrder_ = std::move(other.memberOrder_);
    other.tag_ = JsonTag::VT_NULL;
    other.kind_ = JsonKind::Null;
    other.payload_ = std::monostate();
    other.memberOrder_.clear();
  }
  return *this;
}

JsonValue::~JsonValue() { ReleasePayload(payload_); }

void JsonValue::ReleasePayload(Payload& payload) {
  if (!std::holds_alternative<std::unique_ptr<JsonObject>>(payload) &&
      !std::holds_alternative<std::unique_ptr<JsonArray>>(payload)) {
    return;
  }
  // Containers waiting to be freed. Before one is freed, the containers held
  // by its children move here, so every destructor that runs meets children
  // without nested containers and never recurses.
  std::vector<Payload> pending;
  pending.push_back(std::move(payload));
  payload = std::monostate();
  auto take = [&pending](JsonValue& child) {
    if (std::holds_alternative<std::unique_ptr<JsonObject>>(child.payload_) ||
        std::holds_alternative<std::unique_ptr<JsonArray>>(child.payload_)) {
      pending.push_back(std::move(child.payload_));
      child.payload_ = std::monostate();
    }
  };
  while (!pending.empty()) {
    Payload current = std::move(pending.back());
    pending.pop_back();
    if (auto* object = std::get_if<std::unique_ptr<JsonObject>>(&current)) {
      for (auto& member : **object) take(member.second);
    } else if (auto* array = std::get_if<std::unique_ptr<JsonArray>>(&current)) {
      for (JsonValue& element : **array) take(element);
    }
  }
}

void JsonValue::CopyFrom(const JsonValue& source) {
  // Copies without recursion: each container is first filled with shallow
  // children, whose own containers are then copied from the work list.
  std::vector<std::pair<const JsonValue*, JsonValue*>> work{{&source, this}};
  while (!work.empty()) {
    auto [from, to] = work.back();
    work.pop_back();
    to->tag_ = from->tag_;
    to->kind_ = from->kind_;
    to->memberOrder_ = from->memberOrder_;
    if (auto* object = std::get_if<std::unique_ptr<JsonObject>>(&from->payload_)) {
      auto copy = std::make_unique<JsonObject>();
      for (const auto& member : **object) {
        auto it = copy->emplace_hint(copy->end(), std::piecewise_construct,
                                     std::forward_as_tuple(member.first), std::forward_as_tuple());
        work.emplace_back(&member.second, &it->second);
      }
      to->payload_ = std::move(copy);
    } else if (auto* array = std::get_if<std::unique_ptr<JsonArray>>(&from->payload_)) {
      auto copy = std::make_unique<JsonArray>((*array)->size());
      for (size_t i = 0; i < copy->size(); ++i) work.emplace_back(&(**array)[i], &(*copy)[i]);
      to->payload_ = std::move(copy);
    } else if (auto* text = std::get_if<std::u16string>(&from->payload_)) {
      to->payload_ = *text;
    } else if (auto* integer = std::get_if<int64_t>(&from->payload_)) {
      to->payload_ = *integer;
    } else if (auto* number = std::get_if<double>(&from->payload_)) {
      to->payload_ = *number;
    } else if (auto* flag = std::get_if<bool>(&from->payload_)) {
      to->payload_ = *flag;
    }
  }
}

void JsonValue::Clear() {
  ReleasePayload(payload_);
  payload_ = std::monostate();
  tag_ = JsonTag::VT_NULL;
  kind_ = JsonKind::Null;
  memberOrder_.clear();
}

JsonValue& JsonValue::operator=(const char16_t* text) {
  return *this = (text ? std::u16string_view(text) : std::u16string_view());
}

JsonValue& JsonValue::operator=(std::u16string_view text) {
  // The text may be this value's own string: copy it before clearing.
  std::u16string copy(text);
  Clear();
  tag_ = JsonTag::VT_BSTR;
  kind_ = JsonKind::String;
  payload_ = std::move(copy);
  return *this;
}

JsonValue& JsonValue::operator=(double number) {
  SetFloat(number, JsonTag::VT_R8);
  return *this;
}

JsonValue& JsonValue::operator=(float number) {
  SetFloat(number, JsonTag::VT_R4);
  return *this;
}

JsonValue& JsonValue::operator=(bool flag) {
  Clear();
  tag_ = JsonTag::VT_BOOL;
  kind_ = JsonKind::Boolean;
  payload_ = flag;
  return *this;
}

uint16_t JsonValue::SignedTag(size_t bytes) {
  switch (bytes) {
    case 1:
      return JsonTag::VT_I1;
    case 2:
      return JsonTag::VT_I2;
    case 4:
      return JsonTag::VT_I4;
    default:
      return JsonTag::VT_I8;
  }
}

uint16_t JsonValue::UnsignedTag(size_t bytes) {
  switch (bytes) {
    case 1:
      return JsonTag::VT_UI1;
    case 2:
      return JsonTag::VT_UI2;
    case 4:
      return JsonTag::VT_UI4;
    default:
      return JsonTag::VT_UI8;
  }
}

void JsonValue::SetInteger(int64_t number, uint16_t tag) {
  Clear();
  tag_ = tag;
  kind_ = JsonKind::Number;
  payload_ = number;
}

void JsonValue::SetFloat(double number, uint16_t tag) {
  Clear();
  tag_ = tag;
  kind_ = JsonKind::Number;
  payload_ = number;
}

JsonValue& JsonValue::operator[](std::u16string_view name) {
  if (kind_ != JsonKind::Object) {
    Clear();
    tag_ = JsonTag::VT_DISPATCH;
    kind_ = JsonKind::Object;
    payload_ = std::make_unique<JsonObject>();
  }
  memberOrder_.emplace_back(name);
  JsonObject& members = *std::get<std::unique_ptr<JsonObject>>(payload_);
  auto it = members.lower_bound(name);
  if (it == members.end() || it->first != name) {
    it = members.emplace_hint(it, std::u16string(name), JsonValue(JsonKind::Undefined));
  }
  return it->second;
}

size_t JsonValue::ChildCount() const {
  if (const JsonObject* members = object()) return members->size();
  if (const JsonArray* elements = array()) return elements->size();
  return 0;
}

const std::u16string* JsonValue::string() const {
  return kind_ == JsonKind::String ? std::get_if<std::u16string>(&payload_) : nullptr;
}

const JsonObject* JsonValue::object() const {
  auto* held = std::get_if<std::unique_ptr<JsonObject>>(&payload_);
  return kind_ == JsonKind::Object && held ? held->get() : nullptr;
}

JsonObject* JsonValue::object() {
  auto* held = std::get_if<std::unique_ptr<JsonObject>>(&payload_);
  return kind_ == JsonKind::Object && held ? held->get() : nullptr;
}

const JsonArray* JsonValue::array() const {
  auto* held = std::get_if<std::unique_ptr<JsonArray>>(&payload_);
  return kind_ == JsonKind::Array && held ? held->get() : nullptr;
}

JsonArray* JsonValue::array() {
  auto* held = std::get_if<std::unique_ptr<JsonArray>>(&payload_);
  return kind_ == JsonKind::Array && held ? held->get() : nullptr;
}

int64_t JsonValue::integer() const {
  if (const auto* held = std::get_if<int64_t>(&payload_)) return *held;
  if (const auto* held = std::get_if<double>(&payload_)) {
    const double d = *held;
    if (!(d == d)) return 0;
    if (d >= 9223372036854775807.0) return INT64_MAX;
    if (d <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(d);
  }
  return 0;
}

double JsonValue::number() const {
  if (const auto* held = std::get_if<int64_t>(&payload_)) {
    const bool isUnsigned = tag_ == JsonTag::VT_UI1 || tag_ == JsonTag::VT_UI2 ||
                            tag_ == JsonTag::VT_UI4 || tag_ == JsonTag::VT_UI8;
    return isUnsigned ? static_cast<double>(static_cast<uint64_t>(*held))
                      : static_cast<double>(*held);
  }
  if (const auto* held = std::get_if<double>(&payload_)) return *held;
  return 0.0;
}

bool JsonValue::boolean() const {
  const auto* held = std::get_if<bool>(&payload_);
  return held && *held;
}
