// The list window's side of the entry form: the form is filled from the card, so an edit or a
// copy starts from what the user sees, not from a fresh read of the row.
#include "registrations/DBView.h"

#include "registrations/Meldung.h"

#include <QLabel>

namespace kova::app {

namespace {

QString CardText(const QObject& window, const char* labelName) {
    const auto* label = window.findChild<const QLabel*>(QString::fromLatin1(labelName));
    return label != nullptr ? label->text() : QString();
}

} // namespace

void TFormDatabase::FillMeldeformFromCard() {
    if (FormMeldung == nullptr) return;  // the program's entry form is made at start
    TFormMeldung::TCard card;
    card.id = CardText(*this, "LbId");
    card.name = CardText(*this, "LbName");
    card.firstName = CardText(*this, "LbVorname");
    card.year = CardText(*this, "LbJahrgang");
    card.className = CardText(*this, "LbAK");
    card.discipline1 = CardText(*this, "LbDisz1");
    card.discipline2 = CardText(*this, "LbDisz2");
    card.discipline3 = CardText(*this, "LbDisz3");
    card.relay = CardText(*this, "LbStaffel");
    FormMeldung->FillFromCard(card);
}

} // namespace kova::app
