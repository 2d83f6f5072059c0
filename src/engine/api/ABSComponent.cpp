#include "engine/api/ABSComponent.h"

#include "engine/api/ABSSession.h"
#include "engine/core/Collation.h"

#include <algorithm>

namespace kova {

namespace {

[[nodiscard]] bool IsAscii(std::string_view text) noexcept {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

[[nodiscard]] char AsciiUpper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

} // namespace

bool SameName(std::string_view a, std::string_view b) {
    // Names are nearly always ASCII; the collation's case mapping is only needed for the rest.
    if (IsAscii(a) && IsAscii(b)) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiUpper(x) == AsciiUpper(y); });
    }
    return UpperCaseText(a) == UpperCaseText(b);
}

// ---------------------------------------------------------------------------------------------

TABSComponent::TABSComponent(TABSComponentOwner* owner) : owner_(owner) {
    if (owner_) owner_->components_.push_back(this);
}

TABSComponent::~TABSComponent() {
    if (owner_) std::erase(owner_->components_, this);
}

void TABSComponent::SetName(std::string name) {
    if (name == name_) return;
    name_ = std::move(name);
    NameChanged();
}

void TABSComponent::ComponentError(std::string_view format, std::initializer_list<FormatArg> args) const {
    throw EDatabaseError(name_, FormatMessage(format, args));
}

// ---------------------------------------------------------------------------------------------

TABSComponentOwner::~TABSComponentOwner() {
    for (TABSComponent* component : components_) component->owner_ = nullptr;
}

TABSSession* TABSComponentOwner::AutoNamedSession() const {
    for (TABSComponent* component : components_) {
        if (auto* session = dynamic_cast<TABSSession*>(component); session && session->AutoSessionName()) {
            return session;
        }
    }
    return nullptr;
}

void TABSComponentOwner::ApplySessionName(const std::string& sessionName) {
    // A component may react by closing a dataset, whose handlers could add components; walk a copy.
    const std::vector<TABSComponent*> components = components_;
    for (TABSComponent* component : components) component->OwnerSessionNameChanged(sessionName);
}

} // namespace kova
