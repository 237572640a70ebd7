// Recognising the files we import by their content, never by their name.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vt::files {
class HostFile;
}

namespace vt::codec {

// Which of our importers' file types the content of `path` is ('MkvF', 'WebM', 'VfW ', 'MPEG',
// 'GIFf', 'PNGf', 'JPEG', 'BMPf', 'TIFF', 'WEBP', and for sound files 'WAVE', 'AIFF', 'AIFC',
// 'MPG3', 'flac', 'OggS'), or 0. Reads only the file's head.
OSType sniffFileType(const std::string& path);
OSType sniffFileType(const vt::files::HostFile& file);
// True for the types of still images (the graphics importers' types, GIF included).
bool isImageType(OSType type);
// True for the types the movie importers open.
bool isMovieImportType(OSType type);
// True for the types of sound files (no picture of their own; Ogg may hold one).
bool isSoundFileType(OSType type);

// The head of a file that sniffing looks at; false when it cannot be read.
bool readHead(const vt::files::HostFile& file, std::vector<uint8_t>& head);
// The file type of a file's head, as sniffFileType answers it.
OSType sniffHead(const std::vector<uint8_t>& head);
// The libavformat demuxer for a content type; null for types we do not demux.
const char* demuxerFor(OSType type, const std::vector<uint8_t>& head);

}  // namespace vt::codec
