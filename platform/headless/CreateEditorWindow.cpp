// Until a platform has windows of its own, every editor window is headless.
#include "EditorWindow.h"

namespace platform {

std::unique_ptr<EditorWindow> createEditorWindow(void*, int32_t width, int32_t height, WindowClient* client) {
    return std::make_unique<HeadlessWindow>(width, height, client);
}

}  // namespace platform
