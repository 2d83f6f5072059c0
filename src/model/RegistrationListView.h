// What the data module needs of the registration list window: the window fills its card from
// the current row of the registration list and shows the number of listed rows. Kept as an
// interface so that the model layer does not depend on the window.
#pragma once

#include <QString>

#include <string>

namespace kova::app {

class TRegistrationListView {
public:
    virtual ~TRegistrationListView() = default;
    // Whether the window is shown; the card follows the list only then.
    [[nodiscard]] virtual bool ListVisible() const = 0;
    // Fills the card from the registration with this identifier.
    virtual void FillCardForm(const std::string& id) = 0;
    // The text of status panel 0 ("12 Einträge").
    virtual void SetRecordCountText(const QString& text) = 0;
};

} // namespace kova::app
