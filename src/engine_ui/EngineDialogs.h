// Installs the engine's windows (password, questions, messages, wait window) as the engine's
// host hooks. Call once the QApplication exists; the previous hooks come back on destruction.
#pragma once

#include "engine/api/ABSHostHooks.h"

#include <memory>

namespace kova::app {

class TfrmWait;

class TEngineDialogs {
public:
    TEngineDialogs();
    ~TEngineDialogs();
    TEngineDialogs(const TEngineDialogs&) = delete;
    TEngineDialogs& operator=(const TEngineDialogs&) = delete;

    [[nodiscard]] TfrmWait& WaitWindow() noexcept { return *wait_; }

private:
    std::unique_ptr<TfrmWait> wait_;
    TABSHostHooks previous_;
};

} // namespace kova::app
