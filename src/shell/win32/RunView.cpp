#include "shell/win32/RunView.h"

#include "shell/win32/AboutBox.h"

namespace tw {

bool TRunView::StartPollingChecked() const {
    return controls_.StartPolling && SendMessageW(controls_.StartPolling, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TRunView::SetStartPollingChecked(bool checked) {
    if (controls_.StartPolling)
        SendMessageW(controls_.StartPolling, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TRunView::ShowAboutBox() { tw::ShowAboutBox(instance_, owner_); }

}  // namespace tw
