// The common ground of sessions, databases and datasets: a component name (the prefix of
// component errors), an owner (the window or data module that holds the component), and the
// case-insensitive name comparison that every lookup of the component layer uses.
//
// An owner does not own its components' memory; it only knows them, so that a session with
// AutoSessionName can hand its generated name to the databases and datasets of the same owner.
// A component leaves its owner's list when it is destroyed; an owner that goes first detaches
// the components it still knows.
#pragma once

#include "engine/core/ABSExcept.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kova {

class TABSComponentOwner;
class TABSSession;

// Whether two names are equal ignoring case (ASCII directly, other letters with the collation
// locale's upper-case mapping).
[[nodiscard]] bool SameName(std::string_view a, std::string_view b);

class TABSComponent {
public:
    virtual ~TABSComponent();
    TABSComponent(const TABSComponent&) = delete;
    TABSComponent& operator=(const TABSComponent&) = delete;

    // The component name ("ABSQH1"); may be empty.
    [[nodiscard]] const std::string& Name() const noexcept { return name_; }
    void SetName(std::string name);
    [[nodiscard]] TABSComponentOwner* Owner() const noexcept { return owner_; }

protected:
    explicit TABSComponent(TABSComponentOwner* owner);

    // Raises EDatabaseError "<Name>: <formatted text>" (just the text when the name is empty).
    [[noreturn]] void ComponentError(std::string_view format, std::initializer_list<FormatArg> args = {}) const;

    // Called after the component name changed.
    virtual void NameChanged() {}
    // A session of the same owner with AutoSessionName on took `sessionName`; databases and
    // datasets follow it, sessions ignore it.
    virtual void OwnerSessionNameChanged(const std::string& sessionName) { (void)sessionName; }

private:
    friend class TABSComponentOwner;

    TABSComponentOwner* owner_;
    std::string name_;
};

class TABSComponentOwner {
public:
    TABSComponentOwner() = default;
    ~TABSComponentOwner();
    TABSComponentOwner(const TABSComponentOwner&) = delete;
    TABSComponentOwner& operator=(const TABSComponentOwner&) = delete;

    [[nodiscard]] const std::vector<TABSComponent*>& Components() const noexcept { return components_; }
    // The first session of this owner that names itself automatically; nullptr when none does.
    [[nodiscard]] TABSSession* AutoNamedSession() const;

private:
    friend class TABSComponent;
    friend class TABSSession;

    // Hands an automatic session name to every component of this owner.
    void ApplySessionName(const std::string& sessionName);

    std::vector<TABSComponent*> components_;
};

} // namespace kova
