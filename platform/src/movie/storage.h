// Media data storage and sample-description conversion.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "model/model.h"

namespace vt::files {
class PendingFile;
}

namespace vt::movie {

// Sample descriptions: handles hold host-order fixed fields (per media type), files big-endian.
OSErr handleToDescription(const VTMedia& media, Handle h, std::vector<uint8_t>& bytes);
OSErr descriptionToHandle(const VTMedia& media, const std::vector<uint8_t>& bytes, Handle h);
// The 1-based index of a description equal to `bytes` using data reference `refIndex`, adding
// one when there is none.
uint32_t findOrAddDescription(VTMedia& media, const std::vector<uint8_t>& bytes, uint16_t refIndex);

// Appends media data where the media's new samples go: the movie's own file when it is open for
// writing, otherwise the movie's memory. Gives the data reference index and offset.
OSErr appendMediaData(VTMedia& media, const uint8_t* data, size_t size, int& refIndex,
                      uint64_t& offset);

// Open movie files (the reference numbers handed out by OpenMovieFile / CreateMovieFile).
struct MovieFile {
  std::string path;
  int fd = -1;
  // The one open file every reader of it goes through (owns fd unless `pending` does).
  std::shared_ptr<vt::files::HostFile> file;
  bool writable = false;
  bool mdatOpen = false;
  uint64_t mdatStart = 0;  // where the 'wide' placeholder before the open 'mdat' starts
  int holdsMovie = -1;     // cached answer of holdsMovieData (-1: not asked yet)
  // A file made by CreateMovieFile: written unnamed (path is its working name) and given its
  // name once a movie is written into it whole. It owns fd.
  std::shared_ptr<vt::files::PendingFile> pending;
  std::shared_ptr<DataSource> pendingSource;  // keeps reads of the unnamed file possible
  OSType creator = 0;
};
MovieFile* movieFile(short refNum);
short openMovieFileRef(const std::string& path, int fd, bool writable);
void closeMovieFileRef(short refNum);
// The data source of the file's own bytes, read through its open file.
std::shared_ptr<DataSource> fileSourceOf(const MovieFile& f);
// True when the file is empty or a movie file: only such files get media data or movie atoms.
bool holdsMovieData(const MovieFile& f);
// Finishes the open 'mdat' atom (its size) so the file is well formed.
OSErr closeMediaData(MovieFile& f);
OSErr appendToFile(MovieFile& f, const uint8_t* data, size_t size, uint64_t& offset);

}  // namespace vt::movie
