#include "pack/failure.h"

const char* pack_failure_line(PackFailureKind kind) {
    switch (kind) {
        case PackFailureKind::input_param: return "input param error";
        case PackFailureKind::malloc: return "malloc failed";
        case PackFailureKind::file_open: return "file open error";
        case PackFailureKind::file_read: return "file read error";
        case PackFailureKind::file_write: return "file write error";
        case PackFailureKind::too_large: return "image too large";
    }
    return "";
}

void pack_hold(PackFailure& failure, PackFailureKind kind, const std::string& subject, const std::string& reason) {
    if (failure.kind) return;
    failure.kind = kind;
    failure.subject = subject;
    failure.reason = reason;
}
