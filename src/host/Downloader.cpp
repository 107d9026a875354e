// The download component over libcurl. Addresses and everything a server sends are untrusted:
// only http and https are spoken (also after redirects), transfers are bounded in time, size and
// redirects, certificates are verified, and the target appears only when the transfer succeeded.
#include "host/Downloader.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

namespace varnel {
namespace {

constexpr HRESULT kInvalidArgument = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT kTransferFailed = static_cast<HRESULT>(0x80004005u);
constexpr long long kDefaultMaxBytes = 512ll << 20;

using Clock = std::chrono::steady_clock;

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// libcurl is loaded by the first download, not with the library: with its TLS stack it brings
// some thirty libraries (about 5 MB resident) that documents without an http address never need.
struct CurlCalls {
  decltype(&curl_global_init) globalInit = nullptr;
  decltype(&curl_easy_init) init = nullptr;
  decltype(&curl_easy_setopt) setopt = nullptr;
  decltype(&curl_easy_getinfo) getinfo = nullptr;
  decltype(&curl_easy_perform) perform = nullptr;
  decltype(&curl_easy_cleanup) cleanup = nullptr;
};

// Null when libcurl cannot be loaded or initialised. Loading and curl_global_init run once:
// the latter is not safe to race with itself or with the first easy handle.
const CurlCalls* Curl() {
  static std::once_flag once;
  static CurlCalls calls;
  static bool ready = false;
  std::call_once(once, [] {
    void* library = nullptr;
    for (const char* name : {"libcurl.so.4", "libcurl-gnutls.so.4"})
      if ((library = dlopen(name, RTLD_NOW | RTLD_LOCAL))) break;
    if (!library) return;
    auto find = [library](auto& call, const char* name) {
      call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(dlsym(library, name));
      return call != nullptr;
    };
    ready = find(calls.globalInit, "curl_global_init") && find(calls.init, "curl_easy_init") &&
            find(calls.setopt, "curl_easy_setopt") && find(calls.getinfo, "curl_easy_getinfo") &&
            find(calls.perform, "curl_easy_perform") && find(calls.cleanup, "curl_easy_cleanup") &&
            calls.globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  });
  return ready ? &calls : nullptr;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// The address as libcurl gets it, or "" when it is not http or https. The scheme is matched
// without regard to case and passed on in lower case; blanks, control characters and non-ASCII
// bytes are percent-encoded, so nothing can break the request line or its headers.
std::string RequestUrl(const wchar_t* source) {
  std::string text = String(source).ToUtf8();
  size_t schemeLength;
  if (StartsWithNoCase(text, "http://")) {
    schemeLength = 4;
  } else if (StartsWithNoCase(text, "https://")) {
    schemeLength = 5;
  } else {
    return std::string();
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string url;
  url.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (i < schemeLength && c >= 'A' && c <= 'Z') {
      url += static_cast<char>(c - 'A' + 'a');
    } else if (c <= 0x20 || c >= 0x7F) {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    } else {
      url += static_cast<char>(c);
    }
  }
  return url;
}

// The target and the folder it lies in. A target without a file name ("", "dir/", ".", "..")
// is refused: renaming onto it could only fail or hit a folder.
struct TargetPath {
  std::string file;
  std::string dir;  // with its trailing "/"
};

bool SplitTarget(const wchar_t* target, TargetPath& out) {
  out.file = String(target).ToUtf8();
  size_t nameStart = out.file.rfind('/') + 1;  // 0 without a folder
  std::string_view name = std::string_view(out.file).substr(nameStart);
  if (name.empty() || name == "." || name == "..") return false;
  // "a.dae" lies in ".", "/a.dae" in "/".
  out.dir = nameStart == 0 ? std::string("./") : out.file.substr(0, nameStart);
  return true;
}

// Success is judged by the target's existence, so a file left from earlier must not pass for
// this call's result. Links are removed, never followed; folders are left alone.
void RemoveStaleTarget(const std::string& file) {
  struct stat info;
  if (::lstat(file.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) ::unlink(file.c_str());
}

// The body is written to a private file next to the target (created exclusively, mode 0600) and
// renamed onto the target only once the whole transfer succeeded; otherwise it is removed.
class PartFile {
 public:
  explicit PartFile(const std::string& dir) : name_(dir + ".varnel-part-XXXXXX") {
    fd_ = ::mkostemp(name_.data(), O_CLOEXEC);
  }
  ~PartFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(name_.c_str());
  }
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  bool Write(const char* data, size_t size) {
    while (size > 0) {
      ssize_t done = ::write(fd_, data, size);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) return false;
      data += done;
      size -= static_cast<size_t>(done);
    }
    return true;
  }
  bool MoveTo(const std::string& target) {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return false;
    kept_ = ::rename(name_.c_str(), target.c_str()) == 0;
    return kept_;
  }

 private:
  std::string name_;
  int fd_ = -1;
  bool kept_ = false;
};

struct Sink {
  PartFile* file;
  curl_off_t limit;
  curl_off_t received = 0;
  bool overLimit = false;
};

// Counts every body byte, so the cap also holds when the server sends no Content-Length or lies
// about it. Returning less than offered makes libcurl abort the transfer.
size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  Sink* sink = static_cast<Sink*>(user);
  size_t bytes = size * count;
  if (static_cast<curl_off_t>(bytes) > sink->limit - sink->received) {
    sink->overLimit = true;
    return 0;
  }
  if (!sink->file->Write(data, bytes)) return 0;
  sink->received += static_cast<curl_off_t>(bytes);
  return bytes;
}

class CurlHandle {
 public:
  explicit CurlHandle(const CurlCalls& calls) : calls_(calls), curl_(calls.init()) {}
  ~CurlHandle() {
    if (curl_) calls_.cleanup(curl_);
  }
  CurlHandle(const CurlHandle&) = delete;
  CurlHandle& operator=(const CurlHandle&) = delete;
  CURL* get() const { return curl_; }

 private:
  const CurlCalls& calls_;
  CURL* curl_;
};

class Downloader final : public ComObject, public IDownloader {
 public:
  HRESULT QueryInterface(const Guid& iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IDownloader)
      return QueryOne(static_cast<IDownloader*>(this), object);
    return NoInterface(object);
  }
  uint32_t AddRef() override { return AddRefObject(); }
  uint32_t Release() override { return ReleaseObject(); }

  HRESULT SetConnectTimeout(long seconds) override { return SetPositive(connectTimeout_, seconds); }
  HRESULT SetTotalTimeout(long seconds) override { return SetPositive(totalTimeout_, seconds); }
  HRESULT SetMaxBytes(long long bytes) override {
    if (bytes <= 0) return kInvalidArgument;
    maxBytes_ = bytes;
    return S_OK;
  }
  HRESULT SetMaxRedirects(long count) override {
    if (count < 0) return kInvalidArgument;
    maxRedirects_ = count;
    return S_OK;
  }
  HRESULT GetLastStatus(long* httpStatus) override {
    if (!httpStatus) return E_POINTER;
    *httpStatus = lastStatus_;
    return S_OK;
  }
  HRESULT GetBytesReceived(long long* bytes) override {
    if (!bytes) return E_POINTER;
    *bytes = bytesReceived_;
    return S_OK;
  }

  HRESULT SetLowSpeedLimit(long bytesPerSecond, long seconds) override {
    if (bytesPerSecond <= 0 || seconds <= 0) return kInvalidArgument;
    lowSpeedBytes_ = bytesPerSecond;
    lowSpeedSeconds_ = seconds;
    return S_OK;
  }
  HRESULT SetCallTimeout(long seconds) override { return SetPositive(callTimeout_, seconds); }
  HRESULT StartCall() override {
    callDeadlineMs_ = NowMs() + 1000ll * callTimeout_.load();
    return S_OK;
  }

  HRESULT CopyUrlToFile(BSTR source, BSTR target) override {
    lastStatus_ = 0;
    bytesReceived_ = 0;
    if (!source || !target) return E_POINTER;
    TargetPath where;
    if (!SplitTarget(target, where)) return kInvalidArgument;
    RemoveStaleTarget(where.file);
    std::string url = RequestUrl(source);
    if (url.empty()) return kInvalidArgument;
    const CurlCalls* calls = Curl();
    if (!calls) return kTransferFailed;
    // A component used without StartCall counts its allowance from the first transfer.
    long long expected = 0;
    callDeadlineMs_.compare_exchange_strong(expected, NowMs() + 1000ll * callTimeout_.load());
    return Transfer(*calls, url, where);
  }

 private:
  static HRESULT SetPositive(std::atomic<long>& setting, long value) {
    if (value <= 0) return kInvalidArgument;
    setting = value;
    return S_OK;
  }

  HRESULT Transfer(const CurlCalls& api, const std::string& url, const TargetPath& where) {
    // The transfer ends at its own timeout or at the end of the call's allowance, the earlier.
    const long long startMs = NowMs();
    const long long callLeftMs = callDeadlineMs_.load() - startMs;
    if (callLeftMs <= 0) return kDownloadCallTimeUp;
    const long long ownMs = 1000ll * totalTimeout_.load();
    const long long timeoutMs = std::min(ownMs, callLeftMs);
    CurlHandle handle(api);
    CURL* curl = handle.get();
    if (!curl) return E_OUTOFMEMORY;
    PartFile part(where.dir);
    if (!part.IsOpen()) return kTransferFailed;
    Sink sink{&part, static_cast<curl_off_t>(maxBytes_.load())};
    bool configured =
        api.setopt(curl, CURLOPT_URL, url.c_str()) == CURLE_OK &&
        api.setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
        api.setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
        api.setopt(curl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
        api.setopt(curl, CURLOPT_MAXREDIRS, maxRedirects_.load()) == CURLE_OK &&
        api.setopt(curl, CURLOPT_CONNECTTIMEOUT, connectTimeout_.load()) == CURLE_OK &&
        api.setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs)) == CURLE_OK &&
        api.setopt(curl, CURLOPT_LOW_SPEED_LIMIT, lowSpeedBytes_.load()) == CURLE_OK &&
        api.setopt(curl, CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds_.load()) == CURLE_OK &&
        api.setopt(curl, CURLOPT_MAXFILESIZE_LARGE, sink.limit) == CURLE_OK &&
        api.setopt(curl, CURLOPT_FAILONERROR, 1L) == CURLE_OK &&
        api.setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
        api.setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
        // Timeouts must not use signals: the host may call from any thread.
        api.setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        api.setopt(curl, CURLOPT_USERAGENT, "varnel/1") == CURLE_OK &&
        api.setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody) == CURLE_OK &&
        api.setopt(curl, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
    if (!configured) return kTransferFailed;

    CURLcode result = api.perform(curl);
    long status = 0;
    api.getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    lastStatus_ = status;
    bytesReceived_ = sink.received;
    if (result != CURLE_OK) return Failure(api, curl, result, sink, NowMs() - startMs, timeoutMs, ownMs);
    // A final 3xx (redirect without a usable Location) carries no document either.
    if (status < 200 || status > 299) return kTransferFailed;
    return part.MoveTo(where.file) ? S_OK : kTransferFailed;
  }

  // Which limit, if any, ended a failed transfer. libcurl reports every timeout alike, so the
  // time taken and whether a connection was made tell them apart.
  static HRESULT Failure(const CurlCalls& calls, CURL* curl, CURLcode result, const Sink& sink, long long elapsedMs,
                         long long timeoutMs, long long ownMs) {
    if (result == CURLE_FILESIZE_EXCEEDED || (result == CURLE_WRITE_ERROR && sink.overLimit))
      return kDownloadTooLarge;
    if (result == CURLE_TOO_MANY_REDIRECTS) return kDownloadTooManyRedirects;
    if (result != CURLE_OPERATION_TIMEDOUT) return kTransferFailed;
    if (elapsedMs + 50 >= timeoutMs) return timeoutMs < ownMs ? kDownloadCallTimeUp : kDownloadTimedOut;
    curl_off_t connected = 0;
    calls.getinfo(curl, CURLINFO_CONNECT_TIME_T, &connected);
    return connected == 0 ? kDownloadNoConnection : kDownloadTooSlow;
  }

  std::atomic<long> connectTimeout_{10};
  std::atomic<long> totalTimeout_{120};
  std::atomic<long> maxRedirects_{5};
  std::atomic<long> lowSpeedBytes_{1024};
  std::atomic<long> lowSpeedSeconds_{15};
  std::atomic<long> callTimeout_{300};
  std::atomic<long long> callDeadlineMs_{0};
  std::atomic<long long> maxBytes_{kDefaultMaxBytes};
  std::atomic<long> lastStatus_{0};
  std::atomic<long long> bytesReceived_{0};
};

}  // namespace

IUnknown* CreateDownloaderComponent() {
  return static_cast<IDownloader*>(new (std::nothrow) Downloader());
}

}  // namespace varnel
