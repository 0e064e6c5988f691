#include "smb/client/worker_settings.h"

namespace vuv::smb {

std::vector<std::string> workerArguments(const WorkerSettings& settings) {
  std::vector<std::string> arguments;
  if (!settings.configFile.empty()) arguments.insert(arguments.end(), {"--configfile", settings.configFile});
  if (settings.debugLevel >= 0) {
    arguments.insert(arguments.end(), {"--debuglevel", std::to_string(settings.debugLevel)});
  }
  switch (settings.kerberos) {
    case KerberosUse::Off: break;
    case KerberosUse::Desired: arguments.insert(arguments.end(), {"--kerberos", "desired"}); break;
    case KerberosUse::Required: arguments.insert(arguments.end(), {"--kerberos", "required"}); break;
  }
  return arguments;
}

}  // namespace vuv::smb
