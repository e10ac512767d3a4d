#include "core/files/FileMover.h"

#include <cerrno>
#include <cstring>

namespace corvane {

FileOpResult FileOpResult::fromErrno(int err) {
    return failed(err, std::strerror(err));
}

FileOpResult FileOpResult::failed(int err, std::string message) {
    FileOpResult r;
    r.status = err == EEXIST ? Status::Exists : Status::Failed;
    r.errorCode = err;
    r.message = std::move(message);
    return r;
}

}  // namespace corvane
