// The open database files of the process and the connections to them.
//
//   TABSDatabaseDataList  one shared data object per open file, found by file name (compared
//                         ignoring case, after making the path absolute and normal, so that
//                         "./a.abs" and "a.abs" are one file) and, in multi-user mode, also by
//                         session name. The first connection opens the file, the last one
//                         leaving closes it. The two pseudo databases "MEMORY" and "TEMP" exist
//                         from start-up to the end of the process and have no file.
//   TABSLocalSession      one connection: copies of the properties it was made from, the
//                         session id the storage layer gave it, and the shared data it uses.
//                         Destroying it disconnects.
//
// Everything that looks up, creates or drops shared data, attaches or detaches a connection or
// creates a database file runs under the list's lock.
#pragma once

#include "engine/storage/ABSDiskEngine.h"
#include "engine/storage/ABSDiskTableData.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kova {

class TABSDatabaseDataList;

// What a connection is made from (the database's properties at connect time). Texts are UTF-8.
struct TABSConnectRequest {
    std::string DatabaseName;
    std::string FileName;     // a path, or "MEMORY" / "TEMP"
    std::string Password;
    std::string SessionName;  // used to find the shared data in multi-user mode only
    std::int32_t MaxConnections = kDefaultMaxConnections;
    bool ReadOnly = false;
    bool Exclusive = false;
    bool MultiUser = false;
};

class TABSLocalSession {
public:
    ~TABSLocalSession();
    TABSLocalSession(const TABSLocalSession&) = delete;
    TABSLocalSession& operator=(const TABSLocalSession&) = delete;

    [[nodiscard]] const std::string& DatabaseName() const noexcept { return request_.DatabaseName; }
    [[nodiscard]] const std::string& FileName() const noexcept { return request_.FileName; }
    [[nodiscard]] const std::string& Password() const noexcept { return request_.Password; }
    // The session name in multi-user mode, else empty.
    [[nodiscard]] const std::string& SessionName() const noexcept { return request_.SessionName; }
    [[nodiscard]] std::int32_t MaxConnections() const noexcept { return request_.MaxConnections; }
    [[nodiscard]] bool Exclusive() const noexcept { return request_.Exclusive; }
    [[nodiscard]] bool MultiUser() const noexcept { return request_.MultiUser; }
    // Read-only as asked, or because the file forced it.
    [[nodiscard]] bool ReadOnly() const noexcept { return readOnly_; }
    [[nodiscard]] TABSSessionID SessionID() const noexcept { return sessionId_; }

    [[nodiscard]] TABSDatabaseData& Data() const noexcept { return *data_; }
    // The shared data of a database file; nullptr for the pseudo databases.
    [[nodiscard]] TABSDiskDatabaseData* DiskData() const noexcept { return disk_; }
    [[nodiscard]] bool IsPseudo() const noexcept { return disk_ == nullptr; }
    // The tables of the file as this process uses them (shared by every connection to the
    // file); nullptr for the pseudo databases.
    [[nodiscard]] TABSDiskDatabaseTables* Tables() const noexcept { return tables_.get(); }

    // Commits what the connection has pending and makes the operating system write the file's
    // buffers to disk. Raises 30379 when the system cannot flush. Nothing to do for the pseudo
    // databases.
    void FlushBuffers();

private:
    friend class TABSDatabaseDataList;
    TABSLocalSession(TABSDatabaseDataList& list, TABSConnectRequest request, std::shared_ptr<TABSDatabaseData> data,
                     TABSDiskDatabaseData* disk, std::shared_ptr<TABSDiskDatabaseTables> tables,
                     TABSConnection connection);

    TABSDatabaseDataList& list_;
    TABSConnectRequest request_;
    std::shared_ptr<TABSDatabaseData> data_;
    TABSDiskDatabaseData* disk_;
    std::shared_ptr<TABSDiskDatabaseTables> tables_;
    TABSSessionID sessionId_;
    bool readOnly_;
};

class TABSDatabaseDataList {
public:
    // The process's list (with the two pseudo databases).
    [[nodiscard]] static TABSDatabaseDataList& Instance();

    // Connects: finds the file's shared data or opens the file. Raises the storage layer's open
    // errors (30445 wrong password, 10470, 20237, …), 20298 when the file is already open in the
    // process with another password, 20235 for a mode the open file cannot mix with. On failure
    // nothing stays attached and a file opened for this connection is closed again.
    [[nodiscard]] std::unique_ptr<TABSLocalSession> Connect(const TABSConnectRequest& request);

    // Creates a database file (an existing file of that name is replaced). Raises 10461 while the
    // file is open in this process.
    void CreateDatabase(const std::string& fileName, const std::string& password,
                        const TABSCreateDatabaseOptions& options);

    // "MEMORY" or "TEMP" (case-insensitive) name a pseudo database.
    [[nodiscard]] static bool IsPseudoDatabaseName(std::string_view fileName);
    // The shared data of a pseudo database. REQUIRES: IsPseudoDatabaseName(name).
    [[nodiscard]] std::shared_ptr<TABSDatabaseData> PseudoDatabase(std::string_view name) const;
    // Lets the in-memory and temporary table layer put its own data objects in place of the
    // plain ones the list starts with. REQUIRES: IsPseudoDatabaseName(name), no connection to it.
    void SetPseudoDatabase(std::string_view name, std::shared_ptr<TABSDatabaseData> data);

    // ---- Diagnostics ----
    // Database files open in the process (the pseudo databases not counted).
    [[nodiscard]] std::size_t OpenFileCount() const;
    // Connections to the file `fileName` (0 when it is not open).
    [[nodiscard]] int ConnectionCount(const std::string& fileName) const;

    // The absolute, normal form of a path, by which files are found.
    [[nodiscard]] static std::string NormalFileName(const std::string& fileName);

private:
    friend class TABSLocalSession;

    struct Entry {
        std::string fileName;     // normal form
        std::string sessionName;  // multi-user mode only
        std::string password;     // the text the file was opened with (UTF-8)
        std::shared_ptr<TABSDiskDatabaseData> data;
        std::shared_ptr<TABSDiskDatabaseTables> tables;  // goes before the file closes
        int connections = 0;
    };

    TABSDatabaseDataList();
    [[nodiscard]] Entry* Find(const std::string& fileName, const std::string& sessionName, bool multiUser) const;
    void Disconnect(TABSLocalSession& session) noexcept;

    mutable std::recursive_mutex mutex_;
    std::vector<std::unique_ptr<Entry>> entries_;
    std::shared_ptr<TABSDatabaseData> memory_;
    std::shared_ptr<TABSDatabaseData> temp_;
};

} // namespace kova
