// A unified diff of two texts, line by line, with three lines of context: what
// `ombrel setup --dry-run` shows for each file it would change.
#pragma once

#include <string>
#include <string_view>

namespace ombrel::setup {

// Empty when the texts are equal. The labels name the two sides ("a/FILE", "/dev/null").
std::string unified_diff(std::string_view from_label, std::string_view to_label,
                         std::string_view before, std::string_view after);

}  // namespace ombrel::setup
