#include "smb/worker/smb_context.h"

#include <fcntl.h>
extern "C" {  // the header declares C functions without saying so
#include <tevent.h>
}

#include <cerrno>

#include "smb/worker/authenticator.h"

namespace vuv::smb {

void useLightEventLoops() { tevent_set_default_backend("poll"); }

Result<SmbContext> SmbContext::create(const ContextSettings& settings,
                                      Authenticator& authenticator) {
  SMBCCTX* raw = smbc_new_context();
  if (raw == nullptr) return makeError(ErrorCode::Other, "smbc_new_context", errno);
  SmbContext context(raw, settings);

  smbc_setDebug(raw, settings.debugLevel);
  // Its log would otherwise go to stdout, which carries our protocol.
  smbc_setOptionDebugToStderr(raw, true);
  smbc_setOptionUserData(raw, &authenticator);
  smbc_setFunctionAuthDataWithContext(raw, &Authenticator::callback);
  if (settings.timeoutMs > 0) smbc_setTimeout(raw, settings.timeoutMs);
  if (settings.kerberos != KerberosUse::Off) {
    smbc_setOptionUseKerberos(raw, true);
    smbc_setOptionFallbackAfterKerberos(raw, settings.kerberos == KerberosUse::Desired);
    // The ticket comes from the cache KRB5CCNAME names (the Kerberos default otherwise).
    smbc_setOptionUseCCache(raw, true);
  }

  if (smbc_init_context(raw) == nullptr) {
    return makeError(ErrorCode::Other, "smbc_init_context", errno);
  }
  // After init, which loads the user's smb.conf: the file given on top of it.
  if (!settings.configFile.empty() && smbc_setConfiguration(raw, settings.configFile.c_str()) != 0) {
    return makeError(ErrorCode::Io, "reading " + settings.configFile, errno != 0 ? errno : ENOENT);
  }
  return context;
}

void SmbContext::applyProtocols() {
  smbc_setOptionProtocols(context_.get(), settings_.minProtocol.c_str(),
                          settings_.maxProtocol.c_str());
}

DirHandle SmbContext::openDir(const std::string& url) {
  applyProtocols();
  SMBCCTX* c = context_.get();
  return DirHandle(smbc_getFunctionOpendir(c)(c, url.c_str()), DirCloser{c});
}

FileHandle SmbContext::openFile(const std::string& url) {
  applyProtocols();
  SMBCCTX* c = context_.get();
  return FileHandle(smbc_getFunctionOpen(c)(c, url.c_str(), O_RDONLY, 0), FileCloser{c});
}

smbc_dirent* SmbContext::readDir(SMBCFILE* dir) {
  return smbc_getFunctionReaddir(context_.get())(context_.get(), dir);
}

const libsmb_file_info* SmbContext::readDirPlus(SMBCFILE* dir) {
  return smbc_getFunctionReaddirPlus(context_.get())(context_.get(), dir);
}

const libsmb_file_info* SmbContext::readDirPlus(SMBCFILE* dir, struct stat* status) {
  return smbc_getFunctionReaddirPlus2(context_.get())(context_.get(), dir, status);
}

bool SmbContext::rewindDir(SMBCFILE* dir) {
  return smbc_getFunctionLseekdir(context_.get())(context_.get(), dir, 0) == 0;
}

ssize_t SmbContext::read(SMBCFILE* file, char* buffer, std::size_t size) {
  return smbc_getFunctionRead(context_.get())(context_.get(), file, buffer, size);
}

int SmbContext::stat(SMBCFILE* file, struct stat* status) {
  return smbc_getFunctionFstat(context_.get())(context_.get(), file, status);
}

void SmbContext::forgetConnections() {
  smbc_getFunctionPurgeCachedServers(context_.get())(context_.get());
}

}  // namespace vuv::smb
