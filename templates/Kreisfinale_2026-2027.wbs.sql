-- Competition template for the school year 2026/2027: district final of the school team
-- athletics competition, age classes WK IV/1 to WK I with the current class codes.
--
-- Run through kova-sql into a fresh database file with the application's password; the build
-- writes the result to Vorlagen/. Text literals are in double quotes like the application's own
-- statements. Dates are written year-month-day because that form converts whatever date format
-- the building process has; the application reads them back in its own format.

CREATE TABLE Wettkampf (
  WkJahr Integer,
  Datum Date,
  Bezeichnung String(59),
  Ort String(59),
  Zeitraum String(20)
);

CREATE TABLE Verein (
  ID String(9),
  Schule String(55),
  Anschrift String(80),
  Telefon String(20),
  FAX String(20),
  EMail String(50)
);

CREATE TABLE Namen (
  ID String(9),
  Name String(20),
  Vorname String(20),
  Jahrgang Integer,
  AK String(10),
  Disziplin1 String(10),
  Disziplin2 String(10),
  Disziplin3 String(10),
  Staffel String(10),
  VereinID String(9)
);

CREATE TABLE Klassen (
  Kuerzel String(10),
  Klasse String(30),
  SEX String(1),
  AlterVon Integer,
  AlterBis Integer
);

CREATE TABLE Disziplinen (
  Kuerzel String(10),
  Sort Integer,
  Disziplin String(30),
  EMS String(1)
);

CREATE TABLE KlasseDiszplin (
  KlKuerzel String(10),
  DzKuerzel String(10)
);

-- The limits table as the template editor creates it; the five limits a school is held to.
CREATE TABLE Settings (
  VarName String(45),
  VarValue Extended,
  VarString String(255)
);

INSERT INTO Settings (VarName, VarValue) VALUES ("MaxEinzelDiszPerName", 3);
INSERT INTO Settings (VarName, VarValue) VALUES ("MaxStaffelPerName", 1);
INSERT INTO Settings (VarName, VarValue) VALUES ("MaxEinzelPlusStaffelPerName", 3);
INSERT INTO Settings (VarName, VarValue) VALUES ("MaxNamenPerAKMitDisz", 12);
INSERT INTO Settings (VarName, VarValue) VALUES ("MaxNamenPerAKMitStaffel", 8);

-- WkJahr is the later year of the school year: ages are reckoned for 2027.
INSERT INTO Wettkampf (WkJahr, Datum, Bezeichnung, Ort, Zeitraum)
  VALUES (2027, "2027-06-15", "Kreisfinale Leichtathletik Schulmannschaften 2027",
          "Sportpark am Stadtwald, Musterstadt", "09:00-16:00");

-- The school row every registration refers to; the school fills in its data.
INSERT INTO Verein (ID) VALUES ("V00000001");

-- Age classes: ordered by SEX, then AlterBis in the entry form.
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("W41", "WK IV/1 weiblich", "w", 10, 13);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("M41", "WK IV/1 männlich", "m", 10, 13);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("W31", "WK III/1 weiblich", "w", 12, 15);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("M31", "WK III/1 männlich", "m", 12, 15);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("W21", "WK II weiblich", "w", 14, 17);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("M21", "WK II männlich", "m", 14, 17);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("W11", "WK I weiblich", "w", 16, 19);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("M11", "WK I männlich", "m", 16, 19);

-- Disciplines. EMS by its first character: "E" individual lists, "S" relay list, "-" all
-- lists; the "-" entry stands for no discipline.
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("-", 0, "-", "-");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("S50", 10010, "50 m", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("S75", 10020, "75 m", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("S100", 10030, "100 m", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("L800", 20010, "800 m", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("WEIT", 30010, "Weitsprung", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("HOCH", 30020, "Hochsprung", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("BAL", 40010, "Ballwurf", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("KUG", 50010, "Kugelstoß", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("SPE", 70010, "Speerwurf", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("R50", 90010, "4 x 50 m Staffel", "S");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("R75", 90020, "4 x 75 m Staffel", "S");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("R100", 90030, "4 x 100 m Staffel", "S");

-- Allowed class/discipline pairs; a discipline missing here is refused for the class.
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W41", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M41", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W31", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M31", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W21", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M21", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W11", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M11", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W41", "S50");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M41", "S50");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W31", "S75");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M31", "S75");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W21", "S100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M21", "S100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W11", "S100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M11", "S100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W41", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M41", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W31", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M31", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W21", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M21", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W11", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M11", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W41", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M41", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W31", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M31", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W21", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M21", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W11", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M11", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W41", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M41", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W31", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M31", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W21", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M21", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W11", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M11", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W41", "BAL");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M41", "BAL");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W31", "BAL");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M31", "BAL");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W31", "KUG");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M31", "KUG");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W21", "KUG");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M21", "KUG");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W11", "KUG");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M11", "KUG");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W21", "SPE");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M21", "SPE");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W11", "SPE");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M11", "SPE");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W41", "R50");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M41", "R50");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W31", "R75");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M31", "R75");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W21", "R100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M21", "R100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("W11", "R100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("M11", "R100");
