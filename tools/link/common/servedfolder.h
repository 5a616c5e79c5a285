// The PC folder that a host serves to the PSP, and the files and folders the PSP has open in it.
// Every path the PSP names is taken below the folder: a leading slash means the folder itself,
// ".." stops at it, and a symbolic link is followed only while it stays inside. What would lead
// out is refused with the PSP's "permission denied", so nothing outside is ever read, listed,
// written or removed.
//
// Results are what the PSP's I/O calls return: a handle, a count or 0, or a PSP error code
// (negative). The class is not thread-safe; hosts that serve several connections lock around it.
#pragma once

#include "psp.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kivo::psplink {

class ServedFolder {
public:
  /// root must be an existing folder; Error otherwise.
  explicit ServedFolder(const std::string& root);
  ~ServedFolder();
  ServedFolder(const ServedFolder&) = delete;
  ServedFolder& operator=(const ServedFolder&) = delete;

  struct Error {
    std::string message;
  };

  /// The folder as served, symbolic links resolved.
  const std::string& root() const { return root_; }

  /// host0: to host7: each keep a current folder of their own.
  static constexpr int kUnits = 8;
  static constexpr int kMaxFiles = 256;
  static constexpr int kMaxDirs = 256;

  int32_t open(uint32_t unit, const std::string& path, uint32_t flags, uint32_t mode);
  int32_t close(int32_t fid);
  /// Reads up to length bytes into buffer.
  int32_t read(int32_t fid, uint8_t* buffer, uint32_t length);
  int32_t write(int32_t fid, const uint8_t* data, uint32_t length);
  /// The new position, or an error.
  int64_t seek(int32_t fid, int64_t offset, int32_t whence);

  int32_t remove(uint32_t unit, const std::string& path);
  int32_t makeFolder(uint32_t unit, const std::string& path, uint32_t mode);
  int32_t removeFolder(uint32_t unit, const std::string& path);
  int32_t rename(uint32_t unit, const std::string& from, const std::string& to);
  int32_t changeFolder(uint32_t unit, const std::string& path);

  int32_t openFolder(uint32_t unit, const std::string& path);
  /// 1 with the next entry, 0 at the end, or an error. Entries that cannot be served (a link
  /// that leads out, a name too long for the PSP) are left out.
  int32_t readFolder(int32_t did, PspStat& stat, std::string& name);
  int32_t closeFolder(int32_t did);

  int32_t getStat(uint32_t unit, const std::string& path, PspStat& stat);
  int32_t changeStat(uint32_t unit, const std::string& path, uint32_t bits, const PspStat& stat);

  /// Free and total space of the served folder's disk, in bytes.
  int32_t space(uint64_t& total, uint64_t& free);

  /// Closes everything the PSP left open and forgets the current folders (a new connection).
  void reset();

  /// Where a PSP path lands, as an absolute host path, or a PSP error. followLast: a link as
  /// the last part is followed (open, stat) or taken as itself (remove, rename).
  int32_t resolve(uint32_t unit, const std::string& path, bool followLast, std::string& hostPath) const;

  int openFiles() const { return int(files_.size()); }

private:
  struct Folder;
  int32_t resolveParts(uint32_t unit, const std::string& path, bool followLast, std::vector<std::string>& parts) const;
  std::string hostPathOf(const std::vector<std::string>& parts) const;

  std::string root_;
  std::vector<std::string> current_[kUnits];
  std::map<int32_t, int> files_;          // fid -> host descriptor
  std::map<int32_t, Folder*> folders_;
  int32_t nextFid_ = 1;
  int32_t nextDid_ = 1;
};

}  // namespace kivo::psplink
