#include "core/guard.h"

#include <MacErrors.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <system_error>

namespace {

thread_local OSErr gLastGuarded = noErr;

OSErr fromErrno(int e) {
  switch (e) {
    case ENOENT: return fnfErr;
    case ENOTDIR: return dirNFErr;
    case EACCES:
    case EPERM: return permErr;
    case EROFS: return wPrErr;
    case ENOSPC:
    case EDQUOT: return dskFulErr;
    case EEXIST: return dupFNErr;
    case EBUSY:
    case ETXTBSY: return fBsyErr;
    case ENAMETOOLONG: return bdNamErr;
    case EMFILE:
    case ENFILE: return tmfoErr;
    case ENOMEM: return memFullErr;
    default: return ioErr;
  }
}

OSErr classify() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (const std::length_error&) {  // a container asked for more than it can hold
    return memFullErr;
  } catch (const std::system_error& e) {  // std::filesystem::filesystem_error too
    const std::error_category& cat = e.code().category();
    if (cat == std::generic_category() || cat == std::system_category())
      return fromErrno(e.code().value());
    return ioErr;
  } catch (const std::logic_error&) {
    return paramErr;
  } catch (...) {
    return ioErr;
  }
}

}  // namespace

OSErr vtErrorFromException() noexcept {
  OSErr err = classify();
  gLastGuarded = err;
  return err;
}

OSErr vtLastGuardedError() noexcept { return gLastGuarded; }