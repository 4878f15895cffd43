// libjpeg reports a fatal error by calling error_exit, which must not return. Ours jumps back to
// the guarded call that entered the library, and warnings are dropped as Qt's reader drops them.
#pragma once

#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>

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
