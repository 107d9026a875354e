// The host's download component: copies an http(s) address to a local file.
#pragma once

#include <varnel/Com.h>
#include "host/Path.h"

namespace varnel {

// {6D1F3A52-7C2B-4E0A-9B8E-5A1D0C4F2E71}
constexpr Guid CLSID_Downloader = {0x6D1F3A52, 0x7C2B, 0x4E0A, {0x9B, 0x8E, 0x5A, 0x1D, 0x0C, 0x4F, 0x2E, 0x71}};
// {6D1F3A53-7C2B-4E0A-9B8E-5A1D0C4F2E71}
constexpr Guid IID_IDownloader = {0x6D1F3A53, 0x7C2B, 0x4E0A, {0x9B, 0x8E, 0x5A, 0x1D, 0x0C, 0x4F, 0x2E, 0x71}};

// Settings apply to the transfers that follow: timeouts in seconds, speeds and the size cap must
// be positive, the redirect count not negative; other values are refused with a negative result.
// Defaults: connect 10 s, total 120 s, 512 MiB, 5 redirects, 1024 bytes/s over 15 s, 300 s for a
// call. The status and byte count describe the last transfer (0 when it never reached a server).
struct IDownloader : IUnknown {
  virtual HRESULT SetConnectTimeout(long seconds) = 0;     // slot 3
  virtual HRESULT SetTotalTimeout(long seconds) = 0;       // slot 4
  virtual HRESULT SetMaxBytes(long long bytes) = 0;        // slot 5
  virtual HRESULT SetMaxRedirects(long count) = 0;         // slot 6
  virtual HRESULT GetLastStatus(long* httpStatus) = 0;     // slot 7
  virtual HRESULT GetBytesReceived(long long* bytes) = 0;  // slot 8
  // Copies `source` to the file `target`. A failed or refused transfer leaves no file behind.
  virtual HRESULT CopyUrlToFile(BSTR source, BSTR target) = 0;  // slot 9
  // A transfer below `bytesPerSecond` for `seconds` in a row is abandoned.
  virtual HRESULT SetLowSpeedLimit(long bytesPerSecond, long seconds) = 0;  // slot 10
  // One allowance for every transfer of a call (a document and its textures), counted from
  // StartCall: a transfer is cut when it runs out and none starts after.
  virtual HRESULT SetCallTimeout(long seconds) = 0;  // slot 11
  virtual HRESULT StartCall() = 0;                   // slot 12
};

// Results of CopyUrlToFile when a limit ended the transfer, so that callers can say which.
constexpr HRESULT kDownloadTooSlow = static_cast<HRESULT>(0x80DA0001u);
constexpr HRESULT kDownloadTimedOut = static_cast<HRESULT>(0x80DA0002u);
constexpr HRESULT kDownloadCallTimeUp = static_cast<HRESULT>(0x80DA0003u);
constexpr HRESULT kDownloadTooLarge = static_cast<HRESULT>(0x80DA0004u);
constexpr HRESULT kDownloadTooManyRedirects = static_cast<HRESULT>(0x80DA0005u);
constexpr HRESULT kDownloadNoConnection = static_cast<HRESULT>(0x80DA0006u);

// What the limit behind `result` is, or null when no limit ended the transfer.
inline const char* DownloadLimitText(HRESULT result) {
  switch (result) {
    case kDownloadTooSlow: return "slower than the low-speed limit";
    case kDownloadTimedOut: return "longer than one transfer may take";
    case kDownloadCallTimeUp: return "past the time allowed for the document and its textures";
    case kDownloadTooLarge: return "larger than the size cap";
    case kDownloadTooManyRedirects: return "redirected too often";
    case kDownloadNoConnection: return "no connection within the connect timeout";
    default: return nullptr;
  }
}

// The factory registered for CLSID_Downloader: a new component with one reference, or null.
IUnknown* CreateDownloaderComponent();

}  // namespace varnel
