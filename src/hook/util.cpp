#include "util.hpp"

#include <cstring>

namespace ombrel::hook {

const Json* member(const Json& value, std::string_view name) {
  if (!value.is_object()) return nullptr;
  const auto& object = value.get_ref<const Json::object_t&>();
  auto it = object.find(name);
  return it == object.end() ? nullptr : &it->second;
}

bool has_member(const Json& value, std::string_view name) {
  return member(value, name) != nullptr;
}

namespace {

// One reference token of a JSON Pointer with ~1 and ~0 decoded.
std::string unescape_token(std::string_view token) {
  std::string out;
  for (std::size_t i = 0; i < token.size(); ++i) {
    if (token[i] == '~' && i + 1 < token.size() && (token[i + 1] == '0' || token[i + 1] == '1')) {
      out.push_back(token[i + 1] == '0' ? '~' : '/');
      ++i;
    } else {
      out.push_back(token[i]);
    }
  }
  return out;
}

std::optional<std::size_t> array_index(std::string_view token) {
  if (token.empty() || (token.size() > 1 && token[0] == '0')) return std::nullopt;
  std::size_t n = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return std::nullopt;
    if (n > (SIZE_MAX - 9) / 10) return std::nullopt;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  return n;
}

}  // namespace

const Json* at_pointer(const Json& value, std::string_view pointer) {
  if (pointer.empty()) return &value;
  if (pointer[0] != '/') return nullptr;
  const Json* current = &value;
  std::size_t pos = 1;
  for (;;) {
    std::size_t end = pointer.find('/', pos);
    std::string_view raw = pointer.substr(pos, end == std::string_view::npos ? end : end - pos);
    std::string token = unescape_token(raw);
    if (current->is_object()) {
      current = member(*current, token);
    } else if (current->is_array()) {
      auto index = array_index(token);
      current = index && *index < current->size() ? &(*current)[*index] : nullptr;
    } else {
      current = nullptr;
    }
    if (current == nullptr || end == std::string_view::npos) return current;
    pos = end + 1;
  }
}

std::optional<std::string> json_scalar_to_string(const Json& value) {
  switch (value.type()) {
    case Json::value_t::string:
      return value.get_ref<const Json::string_t&>();
    case Json::value_t::boolean:
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      return to_json_text(value);
    default:
      return std::nullopt;
  }
}

std::optional<std::string> json_scalar_to_string(const Json* value) {
  return value == nullptr ? std::nullopt : json_scalar_to_string(*value);
}

std::optional<std::string> first_str(const Json& value,
                                     std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    if (auto text = json_scalar_to_string(member(value, name))) return text;
  }
  return std::nullopt;
}

std::vector<std::string> object_keys(const Json& value) {
  std::vector<std::string> keys;
  if (!value.is_object()) return keys;
  for (const auto& [key, _] : value.get_ref<const Json::object_t&>()) keys.push_back(key);
  return keys;
}

std::string join(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += separator;
    out += items[i];
  }
  return out;
}

std::string stable_json(const Json& value) {
  return to_json_text(value);
}

namespace {

inline std::uint64_t rotl(std::uint64_t x, int b) {
  return (x << b) | (x >> (64 - b));
}

struct SipState {
  std::uint64_t v0, v1, v2, v3;
  void round() {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
  void absorb(std::uint64_t m) {
    v3 ^= m;
    round();  // one compression round: SipHash-1-3
    v0 ^= m;
  }
};

std::uint64_t load_le64(const unsigned char* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

std::uint64_t siphash13(std::string_view data, std::uint64_t k0, std::uint64_t k1) {
  SipState s{k0 ^ 0x736f6d6570736575ULL, k1 ^ 0x646f72616e646f6dULL, k0 ^ 0x6c7967656e657261ULL,
             k1 ^ 0x7465646279746573ULL};
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  const std::size_t n = data.size();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) s.absorb(load_le64(p + i));
  std::uint64_t last = static_cast<std::uint64_t>(n & 0xFF) << 56;
  for (std::size_t j = 0; i + j < n; ++j) last |= static_cast<std::uint64_t>(p[i + j]) << (8 * j);
  s.absorb(last);
  s.v2 ^= 0xFF;
  for (int r = 0; r < 3; ++r) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

namespace {

// Where a payload may already name its tool call, in order of precedence.
const Json* explicit_tool_call_id(const Json& payload) {
  for (std::string_view name : {"tool_use_id", "generation_id", "toolUseId"}) {
    if (const Json* v = member(payload, name)) return v;
  }
  for (std::string_view pointer : {"/tool_call/id", "/tool_result/id"}) {
    if (const Json* v = at_pointer(payload, pointer)) return v;
  }
  return member(payload, "timestamp");
}

std::string synthesised_tool_call_id(const Json& payload, std::string_view tool_name) {
  std::string session = first_str(payload, {"session_id", "conversation_id", "sessionId", "taskId"})
                            .value_or("default");
  std::string turn = first_str(payload, {"turn_id", "turnId"}).value_or("-");
  const Json* input = member(payload, "tool_input");
  if (input == nullptr) input = member(payload, "toolInput");
  std::string input_text = input != nullptr ? stable_json(*input) : "null";

  std::string key;
  key.reserve(session.size() + turn.size() + tool_name.size() + input_text.size() + 4);
  key.append(session).push_back('\0');
  key.append(turn).push_back('\0');
  key.append(tool_name).push_back('\0');
  key.append(input_text).push_back('\xFF');  // the string terminator byte of the hash input
  std::uint64_t hash = siphash13(key) & 0xFFFFFFFFFFFFULL;

  char hex[13];
  for (int i = 11; i >= 0; --i) {
    hex[i] = "0123456789abcdef"[hash & 0xF];
    hash >>= 4;
  }
  hex[12] = '\0';
  return session + ":" + turn + ":" + std::string(tool_name) + ":" + hex;
}

}  // namespace

Json tool_use_id(const Json& payload, std::optional<std::string_view> tool_name) {
  if (const Json* id = explicit_tool_call_id(payload)) {
    if (auto text = json_scalar_to_string(*id)) return *text;
    return *id;
  }
  if (!tool_name) return nullptr;
  return synthesised_tool_call_id(payload, *tool_name);
}

}  // namespace ombrel::hook
