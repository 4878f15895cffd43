// The parallax some stereo cameras keep in their maker note: the shift a viewer applies to show
// the pair. Once the tool has moved or cropped the pixels, the stored shift no longer fits them.
#pragma once

#include <QByteArray>

namespace duoptica {

// Sets the maker note's parallax to 0 in an EXIF payload ("Exif\0\0" and the TIFF data), in
// place, so that a viewer shows the new pixels as they are: the Fujifilm W1 and W3's Parallax
// (tag 0xB211, a signed rational, made 0/1) and the Nintendo 3DS's (the float at 0x28 in its
// CameraInfo block). Anything else is left as it is.
void ClearMakerNoteParallax(QByteArray &exif);

} // namespace duoptica
