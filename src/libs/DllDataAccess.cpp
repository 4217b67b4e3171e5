#include "libs/DllDataAccess.h"

namespace tw {
namespace {

// The set of a library that did not load: no rows.
class TEmptyRecordSet : public TRecordSet {
public:
    void First() override {}
    bool Eof() const override { return true; }
    void Next() override {}
    int64_t FieldAsInteger(const std::string& name) const override { throw NotFound(name); }
    std::string FieldAsString(const std::string& name) const override { throw NotFound(name); }

private:
    static EDatabaseError NotFound(const std::string& name) { return EDatabaseError("Field '" + name + "' not found"); }
};

using TEntries = TDllDataAccess::TEntries;

[[noreturn]] void Fail(const TEntries& lib, const char* fallback) {
    const char* reason = lib.LastDBError();
    throw EDatabaseError(reason != nullptr && *reason != '\0' ? reason : fallback);
}

// A result set that lives in the DLL; released there. Holding the entries keeps the DLL loaded.
class TDllRecordSet : public TRecordSet {
public:
    TDllRecordSet(std::shared_ptr<const TEntries> lib, VxRecordSet* set) : lib_(std::move(lib)), set_(set) {}
    ~TDllRecordSet() override { lib_->RsRelease(set_); }
    TDllRecordSet(const TDllRecordSet&) = delete;
    TDllRecordSet& operator=(const TDllRecordSet&) = delete;

    void First() override { lib_->RsFirst(set_); }
    bool Eof() const override { return lib_->RsEof(set_) != 0; }
    void Next() override { lib_->RsNext(set_); }
    int64_t FieldAsInteger(const std::string& name) const override {
        int64_t value = 0;
        if (!lib_->RsFieldAsInteger(set_, name.c_str(), &value)) Fail(*lib_, "Cannot read field");
        return value;
    }
    std::string FieldAsString(const std::string& name) const override {
        const char* text = nullptr;
        int length = 0;
        if (!lib_->RsFieldAsString(set_, name.c_str(), &text, &length)) Fail(*lib_, "Cannot read field");
        return text ? std::string(text, static_cast<size_t>(length)) : std::string();
    }

private:
    std::shared_ptr<const TEntries> lib_;
    VxRecordSet* set_;
};

}  // namespace

bool TDllDataAccess::Bind(std::shared_ptr<TLibraryModule> module) {
    lib_.reset();
    if (!module) return false;
    auto e = std::make_shared<TEntries>();
    const TLibraryModule& m = *module;
    bool ok = m.Resolve("ConnectDB", e->ConnectDB) && m.Resolve("QueryRecords", e->QueryRecords) &&
              m.Resolve("QueryIfRecordExists", e->QueryIfRecordExists) &&
              m.Resolve("InsertRecord", e->InsertRecord) && m.Resolve("UpdateRecords", e->UpdateRecords) &&
              m.Resolve("DeleteRecords", e->DeleteRecords) && m.Resolve("DisconnectDB", e->DisconnectDB) &&
              m.Resolve("LastDBError", e->LastDBError) && m.Resolve("RsFirst", e->RsFirst) &&
              m.Resolve("RsEof", e->RsEof) && m.Resolve("RsNext", e->RsNext) &&
              m.Resolve("RsFieldAsInteger", e->RsFieldAsInteger) &&
              m.Resolve("RsFieldAsString", e->RsFieldAsString) && m.Resolve("RsRelease", e->RsRelease);
    if (!ok) return false;
    e->module = std::move(module);
    lib_ = std::move(e);
    return true;
}

DbConnection TDllDataAccess::ConnectDB(const std::string& path, const std::string& user, const std::string& password,
                                       std::uintptr_t appHandle, bool flag) {
    if (!lib_) return 0;
    return static_cast<DbConnection>(
        lib_->ConnectDB(path.c_str(), user.c_str(), password.c_str(), static_cast<intptr_t>(appHandle), flag));
}

std::unique_ptr<TRecordSet> TDllDataAccess::QueryRecords(DbConnection conn, const std::string& sql, bool flag) {
    if (!lib_) return std::make_unique<TEmptyRecordSet>();
    VxRecordSet* set = nullptr;
    if (!lib_->QueryRecords(static_cast<intptr_t>(conn), sql.c_str(), &set, flag) || set == nullptr)
        Fail(*lib_, "Query failed");
    return std::make_unique<TDllRecordSet>(lib_, set);
}

int TDllDataAccess::QueryIfRecordExists(DbConnection conn, const std::string& sql, bool flag) {
    return lib_ ? lib_->QueryIfRecordExists(static_cast<intptr_t>(conn), sql.c_str(), flag) : 0;
}

int TDllDataAccess::InsertRecord(DbConnection conn, const std::string& table, const std::vector<std::string>& fields,
                                 const std::vector<std::string>& values, bool flag) {
    if (!lib_ || fields.size() != values.size()) return 0;
    std::vector<const char*> f, v;
    for (const std::string& s : fields) f.push_back(s.c_str());
    for (const std::string& s : values) v.push_back(s.c_str());
    return lib_->InsertRecord(static_cast<intptr_t>(conn), table.c_str(), f.data(), v.data(),
                              static_cast<int>(f.size()), flag);
}

int TDllDataAccess::UpdateRecords(DbConnection conn, const std::string& sql, bool flag) {
    return lib_ ? lib_->UpdateRecords(static_cast<intptr_t>(conn), sql.c_str(), flag) : 0;
}

int TDllDataAccess::DeleteRecords(DbConnection conn, const std::string& table, const std::string& condition,
                                  bool flag) {
    return lib_ ? lib_->DeleteRecords(static_cast<intptr_t>(conn), table.c_str(), condition.c_str(), flag) : 0;
}

void TDllDataAccess::DisconnectDB(DbConnection conn, bool flag) {
    if (lib_) lib_->DisconnectDB(static_cast<intptr_t>(conn), flag);
}

}  // namespace tw
