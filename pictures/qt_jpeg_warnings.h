// Qt's JPEG reader only logs what libjpeg warns about, and hands back a picture whose scan data
// stopped early as a success, the rest filled with grey: this hears those warnings.
#pragma once

namespace duoptica {

// While one lives, the JPEG warnings Qt logs on this thread are noted here instead of printed.
class QtJpegWarnings {
public:
    QtJpegWarnings();
    ~QtJpegWarnings();
    QtJpegWarnings(const QtJpegWarnings &) = delete;
    QtJpegWarnings &operator=(const QtJpegWarnings &) = delete;

    // libjpeg met a marker, or the end, before the scan data was complete.
    bool sawPrematureEnd() const { return prematureEnd_; }
    // Some other warning. libjpeg passes on only the first warning of a picture, so a premature
    // end after it goes unheard.
    bool sawOther() const { return other_; }

private:
    friend struct QtJpegWarningsHandler;
    QtJpegWarnings *outer_ = nullptr;
    bool prematureEnd_ = false;
    bool other_ = false;
};

} // namespace duoptica
