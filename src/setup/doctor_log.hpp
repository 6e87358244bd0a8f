// Whether the hook could write its debug log, judged by the hook's own rules without
// writing, creating or changing anything: the doctor must not leave a folder or a file in a
// place the hook would then refuse, or one that another user could read.
#pragma once

#include <optional>
#include <string>

#include "common/result.hpp"
#include "doctor_check.hpp"

namespace ombrel::doctor {

// Where the hook writes its log, from the values of OMBREL_HOOK_LOG, HOME and USERPROFILE
// (nothing when unset), as the hook chooses: OMBREL_HOOK_LOG when set and valid UTF-8 (empty
// turns the log off), else ~/.ombrel/hook.log with HOME (even empty), else USERPROFILE,
// else /tmp, as home.
struct LogSetting {
  std::string path;                    // empty: no log
  std::optional<std::string> ignored;  // why OMBREL_HOOK_LOG was not taken
};
LogSetting hook_log_setting(const std::optional<std::string>& hook_log,
                            const std::optional<std::string>& home,
                            const std::optional<std::string>& user_profile);

// What the hook would find at path: a description when it could append to it (or create it),
// else why it would refuse. Reads only.
Result<std::string> probe_log(const std::string& path);

Check check_log(const LogSetting& setting);

}  // namespace ombrel::doctor
