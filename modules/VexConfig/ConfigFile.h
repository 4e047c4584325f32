// A configuration file of the VexConfig module: one object per ini file and
// section, created by the module's exported CreateConfig() and destroyed by
// FreeConfig(). Values live in memory between Open and Save; Save writes
// them back atomically. An object is used by one thread at a time; texts it
// returns stay valid until the next call on the same object.
//
// The program calls the operations by their position in the table of virtual
// operations, so the order of the declarations is part of the module's
// interface: never reorder, only replace a Reserved entry.
#pragma once

class ConfigFile {
public:
    // Binds the object to one section of one ini file and loads the file.
    // The name may be a Windows path ("Config\\Config.ini", relative to the
    // current directory; "D:\\..." below the data root). A missing file is
    // an empty one (Save creates it). False, with the reason in
    // GetLastError(), when an existing file cannot be read: the object then
    // refuses to Save, so a file it could not read is never overwritten.
    /*  0 */ virtual bool Open(const char* fileName, const char* section) = 0;
    // Writes every value back: creates missing folders, writes a temporary
    // file beside the target and renames it over the target, so a reader
    // never sees half a file. False (reason in GetLastError()) on failure.
    /*  1 */ virtual bool Save() = 0;
    // Reads a key of the bound section. A missing key gives the default; so
    // does a value of the wrong form, which also records a read problem
    // (GetLastError). Bools: true/false, yes/no, 1/0 in any case; ints:
    // decimal within the int range, optional sign.
    /*  2 */ virtual bool ReadBool(const char* key, bool defaultValue) = 0;
    /*  3 */ virtual int ReadInt(const char* key, int defaultValue) = 0;
    // The text, owned by the object: valid until the next call on it.
    /*  4 */ virtual const char* ReadString(const char* key, const char* defaultValue) = 0;
    // The problem of the last call, as one line naming the file, the key and
    // the value ("" when that call went well). Every operation resets it.
    /*  5 */ virtual const char* GetLastError() = 0;
    // The file the object is bound to, as a Linux path ("" before Open).
    /*  6 */ virtual const char* GetFilePath() = 0;
    // True when the bound section holds the key.
    /*  7 */ virtual bool HasKey(const char* key) = 0;
    /*  8 */ virtual void Reserved8() = 0;
    /*  9 */ virtual void Reserved9() = 0;
    // Declare a key: a value the file already holds for the key is kept, only
    // a missing key gets this value. False before Open, and for a key, value
    // or section that a line of the file cannot hold so that it reads back
    // the same (line breaks, blanks around it; '=' or a comment start in a key).
    /* 10 */ virtual bool WriteBool(const char* key, bool value) = 0;
    /* 11 */ virtual bool WriteInt(const char* key, int value) = 0;
    /* 12 */ virtual bool WriteString(const char* key, const char* value) = 0;

protected:
    // Only FreeConfig destroys the object.
    ~ConfigFile() = default;
};

// The module's exports.
extern "C" {
using CreateConfigFunc = ConfigFile* (*)();
using FreeConfigFunc = void (*)(ConfigFile* config);
}
