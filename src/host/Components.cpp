// The library's own component classes. Each class adds one registration line here; the
// factories are defined beside the components.
#include "host/Com.h"
#include "host/Downloader.h"

namespace varnel {

void RegisterBuiltinComponents() {
  RegisterComponent(CLSID_Downloader, CreateDownloaderComponent);
}

}  // namespace varnel
