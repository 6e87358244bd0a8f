// Lookups and canonical forms over the payload's JSON values. Lookups never fail: a
// missing member, a value that is not an object or a bad pointer all find nothing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_text.hpp"

namespace ombrel::hook {

// The member of an object, or nullptr (also for any value that is not an object).
const Json* member(const Json& value, std::string_view name);
bool has_member(const Json& value, std::string_view name);
// RFC 6901 lookup ("/a/0/b"), or nullptr. The empty pointer is the value itself.
const Json* at_pointer(const Json& value, std::string_view pointer);

// A string as it is, a number as its JSON text, a boolean as "true"/"false"; nothing for
// null, arrays and objects.
std::optional<std::string> json_scalar_to_string(const Json& value);
std::optional<std::string> json_scalar_to_string(const Json* value);
// The first of the named members that gives text by the rule above.
std::optional<std::string> first_str(const Json& value,
                                     std::initializer_list<std::string_view> names);
// Member names in ascending byte order; empty for anything but an object.
std::vector<std::string> object_keys(const Json& value);
std::string join(const std::vector<std::string>& items, std::string_view separator);

// Canonical compact JSON: equal values always give equal texts.
std::string stable_json(const Json& value);

// SipHash-1-3 with the given 128-bit key (k0 = first 8 key bytes, little-endian).
std::uint64_t siphash13(std::string_view data, std::uint64_t k0 = 0, std::uint64_t k1 = 0);

// The identifier of the tool call a payload speaks of. Without a tool name: the payload's
// own id or null. With one (possibly empty): an id synthesised from session, turn, tool
// and input when the payload carries none.
Json tool_use_id(const Json& payload, std::optional<std::string_view> tool_name = std::nullopt);

}  // namespace ombrel::hook
