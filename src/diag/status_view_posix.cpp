#include "diag/status_view.h"

namespace zk {

// No native window here: the model is the whole status window.
std::unique_ptr<StatusView> StatusView::Create(StatusWindow&, std::mutex&, std::string*) { return nullptr; }

}  // namespace zk
