// libjpeg reports a fatal error by calling error_exit, which must not return. Ours jumps back to
// the guarded call that entered the library. Warnings are dropped as Qt's reader drops them, but
// for scan data that stops early, which is a file cut short.
#pragma once

#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
// jerror.h after jpeglib.h, which it needs
#include <jerror.h>

#include <csetjmp>

namespace duoptica {

struct JpegErrorJump : jpeg_error_mgr {
    std::jmp_buf target;
};

inline void installErrorJump(JpegErrorJump &errors) {
    jpeg_std_error(&errors);
    errors.error_exit = [](j_common_ptr info) {
        std::longjmp(static_cast<JpegErrorJump *>(info->err)->target, 1);
    };
    errors.output_message = [](j_common_ptr) {};
    // libjpeg fills the rest of such a picture with grey and carries on.
    errors.emit_message = [](j_common_ptr info, int level) {
        if (level < 0 && info->err->msg_code == JWRN_HIT_MARKER)
            info->err->error_exit(info);
    };
}

// Runs call, which enters libjpeg, and tells whether it came back without an error. The jump
// skips every frame in between, so call must hold nothing with a destructor.
template <typename Call> bool jpegGuarded(JpegErrorJump &errors, Call &&call) {
    if (setjmp(errors.target) != 0)
        return false;
    call();
    return true;
}

} // namespace duoptica
