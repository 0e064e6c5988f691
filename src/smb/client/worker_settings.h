// The user's client settings for every SMB worker process, and the command-line arguments
// that carry them to it (smb/worker/main.cpp). Never credentials: argv is visible to every
// local user.
//
// Thread safety: plain values and a pure function.
#pragma once

#include <string>
#include <vector>

#include "browse/credentials.h"

namespace vuv::smb {

struct WorkerSettings {
  std::string configFile;  // an smb.conf read on top of the usual ones; empty: none
  int debugLevel = -1;     // libsmbclient's debug output, 0-10; -1: the worker's default
  KerberosUse kerberos = KerberosUse::Off;
};

std::vector<std::string> workerArguments(const WorkerSettings& settings);

}  // namespace vuv::smb
