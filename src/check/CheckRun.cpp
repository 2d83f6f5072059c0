#include "check/CheckRun.h"

#include "engine/api/ABSQuery.h"
#include "model/CompetitionRules.h"
#include "model/TalmirMySQLTools.h"

namespace kova::app {
namespace {

constexpr const char* kTesting = "Teste ...";
constexpr const char* kOk = "o.k.";
constexpr const char* kFaultAt = "Fehler bei";

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// "V N, AK: "K"" – how a fault names the registration.
std::string Who(std::string_view vorname, std::string_view name, std::string_view ak) {
    return std::string(vorname) + " " + std::string(name) + ", AK: " + Quoted(ak);
}

} // namespace

int TCheckRows::AddRow(const std::string& aktion, const std::string& ergebnis, const std::string& bemerkung) {
    rows_.push_back({aktion, ergebnis, bemerkung});
    return static_cast<int>(rows_.size()) - 1;
}

TCheckLimits TCheckLimits::Read(const TLookup& lookup) {
    TCheckLimits limits;
    limits.maxEinzelPlusStaffelPerName = lookup("MaxEinzelPlusStaffelPerName", limits.maxEinzelPlusStaffelPerName);
    limits.maxNamenPerAKMitDisz = lookup("MaxNamenPerAKMitDisz", limits.maxNamenPerAKMitDisz);
    limits.maxNamenPerAKMitStaffel = lookup("MaxNamenPerAKMitStaffel", limits.maxNamenPerAKMitStaffel);
    limits.maxEinzelDiszPerName = lookup("MaxEinzelDiszPerName", limits.maxEinzelDiszPerName);
    limits.maxStaffelPerName = lookup("MaxStaffelPerName", limits.maxStaffelPerName);
    return limits;
}

bool IsStart(std::string_view field) noexcept {
    return !field.empty() && field.find('-') == std::string_view::npos;
}

TCheckRun::TCheckRun(TABSQuery& list, TABSQuery& classes, const TTalmirMySQLTools& tools,
                     const TCompetitionRules& rules, const TCheckLimits& limits, TCheckProtocol& protocol)
    : list_(list), classes_(classes), tools_(tools), rules_(rules), limits_(limits), protocol_(protocol) {}

std::string TCheckRun::FaultText(int faults) {
    return std::to_string(faults) + " Fehler";
}

void TCheckRun::BeginTest(const std::string& tag, const std::string& description) {
    header_ = protocol_.AddRow(tag, kTesting, description);
    protocol_.SelectRow(header_);
    testFaults_ = 0;
}

void TCheckRun::Fault(const std::string& tag, const std::string& ergebnis, const std::string& message) {
    ++testFaults_;
    ++totalFaults_;
    (void)protocol_.AddRow(tag, ergebnis, message);
    protocol_.SetErgebnis(header_, FaultText(testFaults_));
    protocol_.ShowProgress(header_);
}

void TCheckRun::EndTest() {
    if (testFaults_ != 0) return;
    protocol_.SetErgebnis(header_, kOk);
    protocol_.ShowProgress(header_);
}

void TCheckRun::ForEachRegistration(const std::function<void(const TRegistration&)>& test) {
    TRegistration registration;
    for (list_.First(); !list_.Eof(); list_.Next()) {
        registration.name = list_.FieldByName("Name").AsString();
        registration.vorname = list_.FieldByName("Vorname").AsString();
        registration.ak = list_.FieldByName("AK").AsString();
        registration.jahrgang = list_.FieldByName("Jahrgang").AsString();
        registration.disciplines[0] = list_.FieldByName("Disziplin1").AsString();
        registration.disciplines[1] = list_.FieldByName("Disziplin2").AsString();
        registration.disciplines[2] = list_.FieldByName("Disziplin3").AsString();
        registration.staffel = list_.FieldByName("Staffel").AsString();
        test(registration);
    }
}

TCheckResult TCheckRun::Run() {
    totalFaults_ = 0;
    protocol_.Clear();
    TCheckResult result;
    result.registrations = list_.RecordCount();
    const int overall = protocol_.AddRow("Gesamt", kTesting, std::to_string(result.registrations) + " Namen");

    BeginTest("Name", "Test auf Namen und Vornamen");
    ForEachRegistration([this](const TRegistration& r) {
        if (r.vorname.empty() || r.name.empty()) Fault("Name", kFaultAt, Quoted(r.vorname + " " + r.name) + ": Name unvollständig.");
    });
    EndTest();

    BeginTest("AK/Jg.", "Test auf Altersklassen und Jahrgänge");
    ForEachRegistration([this](const TRegistration& r) {
        if (!rules_.IsAKAllowedForYear(r.ak, r.jahrgang)) {
            Fault("AK/Jg.", kFaultAt, Who(r.vorname, r.name, r.ak) + "; Jg: " + Quoted(r.jahrgang));
        }
    });
    EndTest();

    BeginTest("Disz.", "Test auf Disziplinen in gegebener Altersklasse");
    ForEachRegistration([this](const TRegistration& r) {
        for (const std::string* field : {&r.disciplines[0], &r.disciplines[1], &r.disciplines[2], &r.staffel}) {
            if (!rules_.IsDiszAllowedForClass(r.ak, *field)) {
                Fault("Disz.", kFaultAt, Who(r.vorname, r.name, r.ak) + "; Disziplin " + Quoted(*field) + " nicht zulässig");
            }
        }
    });
    EndTest();

    BeginTest("Anz.Disz.", "Test auf Anzahl Disziplinen je Teilnehmer");
    ForEachRegistration([this](const TRegistration& r) {
        int starts = IsStart(r.staffel) ? 1 : 0;
        for (const std::string& discipline : r.disciplines) starts += IsStart(discipline) ? 1 : 0;
        if (starts > limits_.maxEinzelPlusStaffelPerName) {
            Fault("Anz.Disz.", kFaultAt, Who(r.vorname, r.name, r.ak) + " ist für zu viele Disziplinen gemeldet.");
        }
    });
    EndTest();

    // The two per-registration limits the organiser sets in the template editor.
    BeginTest("Anz.Einzel", "Test auf Anzahl Einzeldisziplinen je Teilnehmer");
    ForEachRegistration([this](const TRegistration& r) {
        int starts = 0;
        for (const std::string& discipline : r.disciplines) starts += IsStart(discipline) ? 1 : 0;
        if (starts > limits_.maxEinzelDiszPerName) {
            Fault("Anz.Einzel", kFaultAt, Who(r.vorname, r.name, r.ak) + " ist für zu viele Einzeldisziplinen gemeldet.");
        }
    });
    EndTest();

    BeginTest("Anz.Staffel", "Test auf Anzahl Staffeln je Teilnehmer");
    ForEachRegistration([this](const TRegistration& r) {
        if ((IsStart(r.staffel) ? 1 : 0) > limits_.maxStaffelPerName) {
            Fault("Anz.Staffel", kFaultAt, Who(r.vorname, r.name, r.ak) + " ist für zu viele Staffeln gemeldet.");
        }
    });
    EndTest();

    // The class rows are read before the per-class walks, so no walk depends on the class
    // query's position.
    struct TClass {
        std::string code, name;
    };
    std::vector<TClass> classes;
    if (tools_.RunSQL(classes_, TTalmirMySQLTools::kOpen, "SELECT * FROM Klassen;")) {
        for (; !classes_.Eof(); classes_.Next()) {
            classes.push_back({classes_.FieldByName("Kuerzel").AsString(), classes_.FieldByName("Klasse").AsString()});
        }
    }
    for (const TClass& c : classes) TestClassLimits(c.code, c.name);

    result.faults = totalFaults_;
    int last = 0;
    if (totalFaults_ != 0) {
        protocol_.SetErgebnis(overall, FaultText(totalFaults_));
        last = protocol_.AddRow("Gesamt", FaultText(totalFaults_), "Bitte Fehler vor dem Versand korrigieren.");
    } else {
        protocol_.SetErgebnis(overall, kOk);
        last = protocol_.AddRow("Gesamt", kOk, "Datenbank kann exportiert werden.");
    }
    protocol_.SetBemerkung(overall, "Prüfung beendet.");
    protocol_.SelectRow(last);
    return result;
}

void TCheckRun::TestClassLimits(const std::string& code, const std::string& className) {
    const std::string tag = "AK " + code;
    BeginTest(tag, "Test auf Anzahl Teilnehmer in AK " + Quoted(className));
    int withStart = 0;
    int withRelay = 0;
    ForEachRegistration([&](const TRegistration& r) {
        if (r.ak != code) return;
        const bool relay = IsStart(r.staffel);
        if (relay || IsStart(r.disciplines[0]) || IsStart(r.disciplines[1]) || IsStart(r.disciplines[2])) ++withStart;
        if (relay) ++withRelay;
    });
    if (withStart > limits_.maxNamenPerAKMitDisz) {
        Fault(tag, "Einzel:", "Zu viele Einzelstarter: " + std::to_string(withStart) + " mit Meldungen in Einzeldisziplinen.");
    }
    if (withRelay > limits_.maxNamenPerAKMitStaffel) {
        Fault(tag, "Staffel:", "Zu viele Staffel- Teilnehmer: " + std::to_string(withRelay) + " mit Meldungen für Staffel.");
    }
    EndTest();
}

} // namespace kova::app
