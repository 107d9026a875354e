#include "gis/Archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "gis/Paths.h"

namespace varnel::gis {
namespace {

constexpr size_t kCopyChunkBytes = size_t{64} << 10;

std::string ZipMessage(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string message = zip_error_strerror(&error);
  zip_error_fini(&error);
  return message;
}

enum class EntryType { kFile, kFolder, kLink, kSpecial };

// From the Unix mode a zip keeps in the high half of the external attributes, when it has one.
EntryType TypeOf(zip_t* zip, zip_uint64_t index, std::string_view name) {
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(zip, index, 0, &system, &attributes) == 0 &&
      system == ZIP_OPSYS_UNIX) {
    mode_t type = (attributes >> 16) & S_IFMT;
    if (type == S_IFLNK) return EntryType::kLink;
    if (type == S_IFDIR) return EntryType::kFolder;
    if (type != 0 && type != S_IFREG) return EntryType::kSpecial;
  }
  return !name.empty() && name.back() == '/' ? EntryType::kFolder : EntryType::kFile;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

class Unpacker {
 public:
  Unpacker(zip_t* zip, const std::string& folder, const ArchiveLimits& limits,
           const Reporter& report)
      : zip_(zip), folder_(folder), limits_(limits), report_(report), buffer_(kCopyChunkBytes) {}

  // False once a cap stops the whole archive.
  bool Entry(zip_uint64_t index, std::vector<std::string>& files) {
    zip_stat_t stat;
    if (zip_stat_index(zip_, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) {
      report_(DiagnosticKind::kArchive, 0, "entry ", std::to_string(index),
              " unreadable: ", zip_strerror(zip_));
      return true;
    }
    std::string_view name = stat.name;
    std::optional<std::string> path = EntryPath(name);
    if (!path) return Refuse(name, "its name leaves the archive's folder");
    EntryType type = TypeOf(zip_, index, name);
    if (type == EntryType::kLink) return Refuse(name, "a link");
    if (type == EntryType::kSpecial) return Refuse(name, "not a file or a folder");
    std::error_code ec;
    std::filesystem::path target = std::filesystem::path(folder_) / *path;
    if (type == EntryType::kFolder || path->empty()) {
      std::filesystem::create_directories(target, ec);
      return ec ? Refuse(name, ec.message()) : true;
    }
    int64_t declared = stat.valid & ZIP_STAT_SIZE ? int64_t(stat.size) : 0;
    int64_t packed = stat.valid & ZIP_STAT_COMP_SIZE ? int64_t(stat.comp_size) : 0;
    if (declared > limits_.maxTotalBytes - total_) return TotalReached(name);
    if (OverRatio(declared, packed)) return RefuseRatio(name);
    std::filesystem::create_directories(target.parent_path(), ec);
    if (ec) return Refuse(name, ec.message());
    int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Refuse(name, errno == EEXIST ? "named twice" : std::strerror(errno));
    Outcome outcome = Copy(index, name, packed, fd);
    close(fd);
    if (outcome == kWritten)
      files.push_back(*path);
    else
      unlink(target.c_str());
    return outcome != kStop;
  }

 private:
  enum Outcome { kWritten, kDropped, kStop };

  bool Refuse(std::string_view name, std::string_view why) {
    report_(DiagnosticKind::kArchive, 0, "entry '", name, "' refused: ", why);
    return true;
  }
  bool RefuseRatio(std::string_view name) {
    return Refuse(name, "it expands more than " + std::to_string(int64_t(limits_.maxRatio)) +
                            " times (the compression-ratio cap)");
  }
  bool TotalReached(std::string_view name) {
    report_(DiagnosticKind::kArchive, 0, "the cap of ", std::to_string(limits_.maxTotalBytes),
            " bytes unpacked in all was reached at entry '", name, "': unpacking stopped");
    return false;
  }
  bool OverRatio(int64_t bytes, int64_t packed) const {
    return bytes > limits_.ratioFloorBytes &&
           double(bytes) > limits_.maxRatio * double(std::max<int64_t>(packed, 1));
  }

  // Counts the bytes actually inflated: declared sizes can lie.
  Outcome Copy(zip_uint64_t index, std::string_view name, int64_t packed, int fd) {
    zip_file_t* file = zip_fopen_index(zip_, index, 0);
    if (!file) {
      Refuse(name, zip_strerror(zip_));
      return kDropped;
    }
    Outcome outcome = kWritten;
    for (int64_t written = 0;;) {
      zip_int64_t n = zip_fread(file, buffer_.data(), buffer_.size());
      if (n == 0) break;
      if (n < 0) {
        Refuse(name, std::string("unreadable: ") + zip_file_strerror(file));
        outcome = kDropped;
        break;
      }
      written += n;
      total_ += n;
      if (total_ > limits_.maxTotalBytes) {
        TotalReached(name);
        outcome = kStop;
        break;
      }
      if (OverRatio(written, packed)) {
        RefuseRatio(name);
        outcome = kDropped;
        break;
      }
      if (!WriteAll(fd, buffer_.data(), size_t(n))) {
        report_(DiagnosticKind::kArchive, 0, "entry '", name, "' not written: ",
                std::strerror(errno), ": unpacking stopped");
        outcome = kStop;
        break;
      }
    }
    zip_fclose(file);
    return outcome;
  }

  zip_t* zip_;
  const std::string& folder_;
  const ArchiveLimits& limits_;
  const Reporter& report_;
  std::vector<char> buffer_;
  int64_t total_ = 0;
};

// The characters a URI path keeps as they are; everything else is escaped as %XX.
bool UriKeeps(unsigned char c) {
  return std::isalnum(c) || std::strchr("-._~/!$&'()*+,;=:@", c) != nullptr;
}

}  // namespace

void LinkEscapedNames(const std::string& folder, const std::vector<std::string>& files) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const std::string& file : files) {
    std::string escaped;
    for (unsigned char c : file) {
      if (UriKeeps(c)) escaped += static_cast<char>(c);
      else escaped += {'%', kHex[c >> 4], kHex[c & 15]};
    }
    // A name already taken stays what the archive put there.
    if (escaped != file) link((folder + "/" + file).c_str(), (folder + "/" + escaped).c_str());
  }
}

namespace {

using ZipHandle = std::unique_ptr<zip_t, void (*)(zip_t*)>;

Unpacked UnpackOpened(const ZipHandle& zip, int code, const std::string& folder,
                      const ArchiveLimits& limits, const Reporter& report) {
  Unpacked result;
  if (!zip) {
    report(DiagnosticKind::kArchive, 0, "not a readable zip archive (truncated or damaged?): ",
           ZipMessage(code));
    return result;
  }
  zip_int64_t count = zip_get_num_entries(zip.get(), 0);
  if (count > limits.maxEntries) {
    report(DiagnosticKind::kArchive, 0, "the archive holds ", std::to_string(count),
           " entries, more than the cap of ", std::to_string(limits.maxEntries), ": not unpacked");
    return result;
  }
  Unpacker unpacker(zip.get(), folder, limits, report);
  result.usable = true;
  for (zip_int64_t i = 0; i < count && result.usable; ++i)
    result.usable = unpacker.Entry(zip_uint64_t(i), result.files);
  return result;
}

}  // namespace

Unpacked Unpack(const std::string& archive, const std::string& folder, const ArchiveLimits& limits,
                const Reporter& report) {
  int code = 0;
  ZipHandle zip(zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code), zip_discard);
  return UnpackOpened(zip, code, folder, limits, report);
}

Unpacked UnpackMemory(std::string_view bytes, const std::string& folder,
                      const ArchiveLimits& limits, const Reporter& report) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  ZipHandle zip(source ? zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error) : nullptr,
                zip_discard);
  // An archive that did not open leaves its source to the caller.
  if (source && !zip) zip_source_free(source);
  int code = zip_error_code_zip(&error);
  zip_error_fini(&error);
  return UnpackOpened(zip, code, folder, limits, report);
}

}  // namespace varnel::gis
