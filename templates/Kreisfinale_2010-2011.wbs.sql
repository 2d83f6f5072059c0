-- Competition template of the school year 2010/2011, kept in the older form: class codes
-- "WK4w" ... "WK1m", no limits table, no javelin and no ball throw in WK III. Opening a database
-- made from it brings it up to date (limits table with the defaults, javelin, the missing
-- pairs); its earlier date puts it first in the template list.
--
-- Run through kova-sql into a fresh database file with the application's password; the build
-- writes the result to Vorlagen/. Dates are written year-month-day because that form converts
-- whatever date format the building process has.

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

INSERT INTO Wettkampf (WkJahr, Datum, Bezeichnung, Ort, Zeitraum)
  VALUES (2011, "2011-06-14", "Kreisfinale Leichtathletik Schulmannschaften 2011",
          "Sportpark am Stadtwald, Musterstadt", "09:30-15:30");

INSERT INTO Verein (ID) VALUES ("V00000001");

-- Age classes: ordered by SEX, then AlterBis in the entry form.
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("WK4w", "WK IV weiblich", "w", 10, 13);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("WK4m", "WK IV männlich", "m", 10, 13);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("WK3w", "WK III weiblich", "w", 12, 15);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("WK3m", "WK III männlich", "m", 12, 15);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("WK2w", "WK II weiblich", "w", 14, 17);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("WK2m", "WK II männlich", "m", 14, 17);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("WK1w", "WK I weiblich", "w", 16, 19);
INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES ("WK1m", "WK I männlich", "m", 16, 19);

-- Disciplines as they were before javelin joined the programme: the upgrade of an opened
-- database adds "SPE" itself.
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("-", 0, "-", "-");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("S50", 10010, "50 m", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("S75", 10020, "75 m", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("S100", 10030, "100 m", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("L800", 20010, "800 m", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("WEIT", 30010, "Weitsprung", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("HOCH", 30020, "Hochsprung", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("BAL", 40010, "Ballwurf", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("KUG", 50010, "Kugelstoß", "E");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("R50", 90010, "4 x 50 m Staffel", "S");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("R75", 90020, "4 x 75 m Staffel", "S");
INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES ("R100", 90030, "4 x 100 m Staffel", "S");

-- Allowed class/discipline pairs. Ball throw in WK III and javelin came later; the upgrade
-- adds those pairs under these codes.
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4w", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4m", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3w", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3m", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2w", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2m", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1w", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1m", "-");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4w", "S50");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4m", "S50");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3w", "S75");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3m", "S75");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2w", "S100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2m", "S100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1w", "S100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1m", "S100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4w", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4m", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3w", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3m", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2w", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2m", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1w", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1m", "L800");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4w", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4m", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3w", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3m", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2w", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2m", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1w", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1m", "WEIT");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4w", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4m", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3w", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3m", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2w", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2m", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1w", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1m", "HOCH");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4w", "BAL");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4m", "BAL");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3w", "KUG");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3m", "KUG");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2w", "KUG");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2m", "KUG");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1w", "KUG");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1m", "KUG");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4w", "R50");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK4m", "R50");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3w", "R75");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK3m", "R75");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2w", "R100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK2m", "R100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1w", "R100");
INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES ("WK1m", "R100");
