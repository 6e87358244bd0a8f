#include "json_fields.hpp"

#include <initializer_list>

namespace ombrel::devserver {

const Json* member(const Json& value, std::string_view name) {
  if (!value.is_object()) return nullptr;
  auto it = value.find(name);
  return it == value.end() ? nullptr : &*it;
}

std::optional<std::string> scalar_text(const Json* value) {
  if (value == nullptr) return std::nullopt;
  if (value->is_string()) return value->get<std::string>();
  if (value->is_number() || value->is_boolean()) return value->dump();
  return std::nullopt;
}

std::optional<std::string> scalar_text(const Json& object, std::string_view name) {
  return scalar_text(member(object, name));
}

std::string compact(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

namespace {

// The first member that holds a string with something in it besides white space.
std::optional<std::string> first_text(const Json& object,
                                      std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    const Json* value = member(object, name);
    if (value != nullptr && value->is_string() &&
        !utf8::trim(value->get_ref<const std::string&>()).empty()) {
      return value->get<std::string>();
    }
  }
  return std::nullopt;
}

// An option is a plain string or an object; the same members, in the same order, that the
// hook consults when it turns an index into the chosen answer.
std::optional<std::string> option_label(const Json& option) {
  if (option.is_string()) {
    std::string_view text = utf8::trim(option.get_ref<const std::string&>());
    if (text.empty()) return std::nullopt;
    return std::string(text);
  }
  if (auto text = first_text(option, {"label", "value", "text", "description"})) {
    return std::string(utf8::trim(*text));
  }
  return std::nullopt;
}

}  // namespace

std::optional<ToolDetail> tool_detail(const Json& tool_input) {
  if (auto command = first_text(tool_input, {"command"})) return ToolDetail{"command", *command};
  if (auto path = first_text(tool_input, {"path", "file_path", "filePath", "notebook_path"})) {
    return ToolDetail{"path", *path};
  }
  if (auto url = first_text(tool_input, {"url"})) return ToolDetail{"url", *url};
  return std::nullopt;
}

std::optional<Question> first_question(std::string_view tool_name, const Json& tool_input) {
  if (!ascii::iequals(tool_name, "AskUserQuestion")) return std::nullopt;
  const Json* questions = member(tool_input, "questions");
  if (questions == nullptr || !questions->is_array() || questions->empty()) return std::nullopt;
  const Json& first = questions->front();
  const Json* options = member(first, "options");
  if (options == nullptr || !options->is_array() || options->empty()) return std::nullopt;

  Question question;
  if (auto text = first_text(first, {"question"})) question.text = std::string(utf8::trim(*text));
  for (const Json& option : *options) question.options.push_back(option_label(option));
  return question;
}

bool answerable(const Question& question, std::size_t index) {
  return !question.text.empty() && index < question.options.size() &&
         question.options[index].has_value();
}

}  // namespace ombrel::devserver
