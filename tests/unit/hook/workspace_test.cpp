#include "workspace.hpp"

#include <gtest/gtest.h>

namespace ombrel::hook {
namespace {

TEST(Workspace, PathFromValue) {
  struct Case {
    const char* name;
    const char* json;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"plain path trimmed", R"("  /Users/me/proj \n")", "/Users/me/proj"},
      {"unicode white space trimmed", R"("\u3000/p\u00a0")", "/p"},
      {"blank", R"("  \t ")", std::nullopt},
      {"empty", R"("")", std::nullopt},
      {"file uri", R"("file:///Users/me/proj")", "/Users/me/proj"},
      {"file uri trimmed first", R"(" file:///p ")", "/p"},
      {"localhost host removed", R"("file://localhost/Users/me")", "/Users/me"},
      {"other host kept", R"("file://server/share")", "server/share"},
      {"localhost prefix of a longer host", R"("file://localhost2/x")", "2/x"},
      {"localhost without the scheme kept", R"("localhost/x")", "localhost/x"},
      {"upper-case scheme not recognised", R"("FILE:///p")", "FILE:///p"},
      {"upper-case host not removed", R"("file://LOCALHOST/p")", "LOCALHOST/p"},
      {"percent escapes kept", R"("file:///a%20b")", "/a%20b"},
      {"back slashes kept", R"("C:\\Users\\me")", "C:\\Users\\me"},
      {"white space after the scheme kept", R"("file:// /p")", " /p"},
      {"bare scheme is no path", R"("file://")", std::nullopt},
      {"bare scheme and host is no path", R"("file://localhost")", std::nullopt},
      {"list takes the first path", R"(["  ", 5, null, "/b", "/c"])", "/b"},
      {"list of nothing", R"(["", []])", std::nullopt},
      {"nested lists searched", R"([[[" /deep "]]])", "/deep"},
      {"object member order", R"({"workspace_root":"/wr","root":"/r","cwd":"/c"})", "/c"},
      {"object path before uri", R"({"uri":"file:///u","path":"/p"})", "/p"},
      {"object blank member goes on", R"({"path":" ","uri":"file:///u"})", "/u"},
      {"object name never counts", R"({"name":"proj","id":"/x"})", std::nullopt},
      {"object within object", R"({"workspace":{"workspaceRoot":["/w"]}})", "/w"},
      {"number", "5", std::nullopt},
      {"boolean", "true", std::nullopt},
      {"null", "null", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(workspace_path_from_value(Json::parse(c.json)), c.want) << c.name;
  }
}

TEST(Workspace, CwdFromPayload) {
  struct Case {
    const char* name;
    const char* payload;
    Json want;
  };
  const Case cases[] = {
      {"cwd first", R"({"cwd":"/c","path":"/p"})", "/c"},
      {"blank cwd goes on", R"({"cwd":"  ","workspace_roots":["/r"]})", "/r"},
      {"wrong type goes on", R"({"cwd":42,"root":"/root"})", "/root"},
      {"bare scheme goes on", R"({"cwd":"file://","workspace_roots":["/r"]})", "/r"},
      {"members before pointers", R"({"project":{"path":"/pp"},"root":"/root"})", "/root"},
      {"project path, root, cwd in order", R"({"project":{"cwd":"/pc","root":"/pr"}})", "/pr"},
      {"project other members ignored", R"({"project":{"uri":"file:///u","name":"n"}})", nullptr},
      {"workspace object", R"({"workspace":{"root":"/wr","name":"n"}})", "/wr"},
      {"workspace folder uri", R"({"workspaceFolder":{"uri":"file:///f"}})", "/f"},
      {"snake workspace folder", R"({"workspace_folder":{"path":"/sf"}})", "/sf"},
      {"first usable root", R"({"workspace_roots":[""," ","/b"]})", "/b"},
      {"vs code folders", R"({"workspaceFolders":[{"uri":"file:///Users/me/proj","name":"proj"}]})",
       "/Users/me/proj"},
      {"roots before folders", R"({"workspace_folders":["/wf"],"workspaceRoots":["/wr"]})", "/wr"},
      {"last candidate", R"({"workspace_folders":[{"path":"/wf"}]})", "/wf"},
      {"unlisted members ignored", R"({"dir":"/d","folder":"/f"})", nullptr},
      {"only wrong types", R"({"cwd":null,"path":{},"workspace_roots":[1,2]})", nullptr},
      {"not an object", R"(["/x"])", nullptr},
      {"empty payload", "{}", nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cwd_from_payload(Json::parse(c.payload)), c.want) << c.name;
  }
}

}  // namespace
}  // namespace ombrel::hook
