#pragma once
// The non-blocking prompt through which the loader asks the user to act (reset the unit).
// A plain TUserPrompt is silent and never reports a cancel; the window's TUserPromptDialog
// shows a modeless box with a Cancel button.
//
// Calling order: ShowPrompt once; then, in the working loop, pump messages and ask Cancelled;
// on every way out of the loop, HidePrompt.

#include "platform/component.h"

#include <string>

class TUserPrompt : public TComponent {
public:
    using TComponent::TComponent;

    virtual void ShowPrompt(const std::string& /*text*/) {}
    virtual bool Cancelled() { return false; }
    virtual void HidePrompt() {}
};
