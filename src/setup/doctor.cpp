#include "doctor.hpp"

#include <cstdio>
#include <cstdlib>

#include "doctor_log.hpp"
#include "doctor_programs.hpp"
#include "inside_tmux.hpp"
#include "launch.hpp"

namespace ombrel::doctor {
namespace {

constexpr const char* kUsage =
    "usage: ombrel doctor [--json]\n"
    "Checks the desktop's address, the hook, its debug log, tmux and every agent's wiring.\n"
    "Exit status 0 when every check passes, 1 when one fails.\n";

void print(std::FILE* to, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), to);
}

}  // namespace

std::vector<Check> machine_checks(const DoctorContext& context) {
  std::vector<Check> rows;
  ServerCheck server = check_server_setting(context.env("OMBREL_SERVER"));
  rows.push_back(server.row);
  rows.push_back(check_desktop(server.address, context.connect));
  rows.push_back(check_hook(context.hook, *context.runner, context.own_version));
  rows.push_back(check_log(hook_log_setting(context.env("OMBREL_HOOK_LOG"), context.env("HOME"),
                                            context.env("USERPROFILE"))));
  rows.push_back(check_tmux(context.tmux_available()));
  const auto tmux = context.env("TMUX");
  rows.push_back(check_inside_tmux(tmux && !tmux->empty()));
  return rows;
}

int doctor_main(const std::vector<std::string>& args, const DoctorContext& context) {
  bool json = false;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else if (arg == "--help" || arg == "-h") {
      print(stdout, kUsage);
      return 0;
    } else {
      print(stderr, "ombrel doctor: unknown option \"" + arg + "\"\n" + kUsage);
      return 2;
    }
  }
  std::vector<Check> rows = machine_checks(context);
  print(stdout, json ? render_json(rows) : render_table(rows));
  return exit_status(rows);
}

}  // namespace ombrel::doctor
