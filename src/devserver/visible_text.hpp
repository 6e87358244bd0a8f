// Payload text as the terminal shows it: every character visible, nothing able to hide,
// reorder or overwrite what is around it. A command the user approves must look exactly
// like the command that runs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ombrel::devserver {

// Characters that show as nothing, as a blank other than the space, or that change how
// the text around them is shown: controls (C0, DEL, C1), bidi embeddings, overrides,
// isolates and marks, zero-width and other format characters, line and paragraph
// separators, variation selectors, tag characters and the other blanks.
bool is_hidden(char32_t c);

// The pieces a text is shown as: one per character, a hidden character, a backslash, a
// quote (when quoted) or a byte that is not UTF-8 as its escape (\n \r \t \\ \" \uXXXX
// \UXXXXXXXX \xNN). Kept apart so that wrapping never splits an escape.
std::vector<std::string> shown_pieces(std::string_view text, bool quoted);

// Whether the text can be shown bare as one token: not empty, and nothing in it that is
// hidden, blank, a quote or a backslash.
bool is_plain(std::string_view text);

// The text as one token: bare when plain, otherwise in double quotes with escapes.
std::vector<std::string> token_pieces(std::string_view text);
std::string token(std::string_view text);

// The terminal columns a piece takes. East Asian wide characters take two and combining
// marks none; the tables are approximate, and a row the terminal finds too long is
// wrapped by the terminal itself, so nothing is lost when they are wrong.
std::size_t columns(std::string_view piece);

// Rows of at most width columns (never fewer than 20), continued rows indented by indent
// spaces. A piece wider than a row gets a row of its own.
std::vector<std::string> wrap(const std::vector<std::string>& pieces, std::size_t width,
                              std::size_t indent);

// Our own words as pieces, one per character, for mixing with payload tokens.
void append_literal(std::vector<std::string>& pieces, std::string_view text);

}  // namespace ombrel::devserver
