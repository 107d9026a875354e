// The library's own component classes. Each class adds one registration line here; the
// factories are defined beside the components.
#include "host/Components.h"

#include <varnel/Com.h>
#include "host/Downloader.h"
#include "host/MultipatchGeometry.h"

namespace varnel {

void RegisterBuiltinComponents() {
  RegisterComponent(CLSID_Downloader, CreateDownloaderComponent);
  RegisterComponent(CLSID_MultipatchGeometry, CreateMultipatchGeometry);
}

}  // namespace varnel
