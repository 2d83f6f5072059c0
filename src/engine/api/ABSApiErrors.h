// Codes and texts of the errors the component layer raises.
//
// Engine errors (EABSException) carry a native code; component errors (EDatabaseError) carry
// the component's name as a prefix and no code. The texts are what a host program shows, so
// they are kept byte for byte (the two German ones included: they are the dataset framework's
// own texts as the application has always shown them).
#pragma once

#include <string_view>

namespace kova::apierr {

// ---- Engine errors ----
inline constexpr int kInvalidSessionName = 20002;
inline constexpr std::string_view kInvalidSessionNameMsg = "Invalid session name '%s'";
inline constexpr int kWrongPassword = 30445;
inline constexpr std::string_view kWrongPasswordMsg = "Cannot open database because incorrect password";
inline constexpr int kPasswordDiffers = 20298;
inline constexpr std::string_view kPasswordDiffersMsg = "Database password is invalid.";
inline constexpr int kFlushFailed = 30379;
inline constexpr std::string_view kFlushFailedMsg =
    "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s";
inline constexpr int kNoSqlLines = 20034;
inline constexpr int kSqlTooShort = 30142;
inline constexpr std::string_view kNoSqlMsg = "No SQL statement available";
inline constexpr int kNoResult = 20001;
inline constexpr std::string_view kNoResultMsg = "Error creating table handle";
inline constexpr int kPrepareOpen = 30141;
inline constexpr std::string_view kPrepareOpenMsg = "Cannot perform this operation on an open dataset";
inline constexpr int kLocateClosed = 10271;
inline constexpr std::string_view kLocateClosedMsg = "Cannot perform LOCATE on a closed dataset";
inline constexpr int kLocateCounts = 30112;
inline constexpr std::string_view kLocateCountsMsg = "Count of FieldNames (%d) not equal counts of KeyValues (%d)";
inline constexpr int kCannotConvert = 20238;
inline constexpr std::string_view kCannotConvertMsg = "Cannot convert database file '%s' to the new format: %s";
inline constexpr std::string_view kNoRebuildAvailable = "no database rebuild is available";
inline constexpr std::string_view kUnknownError = "Unknown error";
inline constexpr int kFileInUse = 10461;
inline constexpr std::string_view kFileInUseMsg = "Error - database file %s is in use.";

// ---- Component errors ----
inline constexpr std::string_view kDatabaseNameBlank = "DatabaseName property is blank";
inline constexpr std::string_view kSessionNameMissing = "Session name missing";
inline constexpr std::string_view kDatabaseNameMissing = "Database name missing";
inline constexpr std::string_view kDuplicateDatabaseName = "Duplicate database name '%s'";
inline constexpr std::string_view kDuplicateSessionName = "Duplicate session name '%s'";
inline constexpr std::string_view kAutoSessionActive = "Cannot modify SessionName while AutoSessionName is enabled";
inline constexpr std::string_view kFileMissing = "Database file '%s' does not exist";
inline constexpr std::string_view kDatabaseClosed = "Cannot perform this operation on a closed database";
inline constexpr std::string_view kDatabaseOpen = "Cannot perform this operation on an open database";
inline constexpr std::string_view kExecOnOpenQuery = "Operation bei geöffneter Datenmenge nicht ausführbar";
inline constexpr std::string_view kFieldNotFound = "Das Feld '%s' wurde nicht gefunden";
inline constexpr std::string_view kDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr std::string_view kParameterNotFound = "Parameter '%s' not found";
inline constexpr std::string_view kNotAnInteger = "'%s' is not a valid integer value";
inline constexpr std::string_view kNotAFloat = "'%s' is not a valid floating point value";
inline constexpr std::string_view kNotADateTime = "'%s' is not a valid date and time";
inline constexpr std::string_view kFieldAccess = "Cannot access field '%s' as type %s";
inline constexpr std::string_view kDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr std::string_view kDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr std::string_view kNotEditing = "Dataset not in edit or insert mode";
inline constexpr std::string_view kDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr std::string_view kTableNameMissing = "Table name missing";

// ---- Questions and messages of connecting ----
inline constexpr std::string_view kRepairQuestion =
    "Database file was not correctly closed last time. Do you want to repair it?";
inline constexpr std::string_view kOldFormatMessage =
    "Database file you are opening is of old format. It will be converted to the current database format "
    "now. It is recommended to make a backup of the database before continuing.";
inline constexpr std::string_view kRepairingMessage = "Repairing Database...";

} // namespace kova::apierr
