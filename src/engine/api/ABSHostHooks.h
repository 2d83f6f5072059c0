// The engine's windows, as a host program provides them.
//
// The engine needs a few user interactions while it connects a database: the password window
// when a password is wrong, the question whether to repair a file that was not closed
// correctly, the message about converting an old file, a warning with a repair report, and the
// wait window while a file is rebuilt. The engine itself has no user interface; a host installs
// functions for these (the desktop application its dialogs, a command-line tool answers from its
// options). With a function missing the engine behaves as in SilentMode: no question is asked,
// the password prompt counts as cancelled, no message is shown.
//
// The hooks are process-wide and are read under a lock on every use, so a host may install them
// at any time. The engine-wide quiet switch suppresses the open-time prompts of every database
// (not the password window); the engine also raises it for itself around a rebuild.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace kova {

class TABSDatabase;

enum class TABSMessageKind { Information, Warning, Error };

struct TABSHostHooks {
    // The password window for `database`: the typed password for OK, nothing for Cancel.
    std::function<std::optional<std::string>(TABSDatabase& database)> AskPassword;
    // A question with Yes / No; true for Yes.
    std::function<bool(const std::string& text)> AskYesNo;
    // A message with an OK button.
    std::function<void(TABSMessageKind kind, const std::string& text)> ShowMessage;
    // The wait window: shown with a message, fed with progress 0..100 (the result is the continue
    // flag: false once the user pressed Abort), and ended.
    std::function<void(const std::string& message)> BeginWait;
    std::function<bool(int percent)> WaitProgress;
    std::function<void()> EndWait;
};

// Installs the hooks; returns the ones installed before.
TABSHostHooks SetHostHooks(TABSHostHooks hooks);
// A copy of the installed hooks.
[[nodiscard]] TABSHostHooks HostHooks();

// The engine-wide quiet switch for the open-time prompts (repair question, old-format message).
void SetOpenPromptsSuppressed(bool suppressed) noexcept;
// Whether the prompts are suppressed: the switch is on, or a TABSQuietOpenScope is alive.
[[nodiscard]] bool OpenPromptsSuppressed() noexcept;

// Suppresses the open-time prompts for its lifetime (nests).
class TABSQuietOpenScope {
public:
    TABSQuietOpenScope() noexcept;
    ~TABSQuietOpenScope();
    TABSQuietOpenScope(const TABSQuietOpenScope&) = delete;
    TABSQuietOpenScope& operator=(const TABSQuietOpenScope&) = delete;
};

// One use of the wait window: begins the wait on construction when the host has a wait window,
// reports progress, and always ends the wait on destruction. Without a host wait window the
// progress calls only answer "continue".
class TABSWaitScope {
public:
    explicit TABSWaitScope(const std::string& message);
    ~TABSWaitScope();
    TABSWaitScope(const TABSWaitScope&) = delete;
    TABSWaitScope& operator=(const TABSWaitScope&) = delete;

    // Sets the progress (0..100); false once the user asked to abort.
    [[nodiscard]] bool Progress(int percent);
    [[nodiscard]] bool Shown() const noexcept { return shown_; }

private:
    TABSHostHooks hooks_;
    bool shown_ = false;
};

} // namespace kova
