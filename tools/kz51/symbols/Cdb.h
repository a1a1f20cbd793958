#pragma once
// Reader of the SDCC debug file (.cdb): modules, functions with their address
// ranges, C line records, global, file and local variables with their scope,
// type and location, structure layouts, and the linker's address records.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kz51::cdb {

// Where a symbol lives, as the .cdb's address space letter says.
enum class Space : char {
  ExternalStack = 'A',
  InternalStack = 'B',
  Code = 'C',
  CodeStatic = 'D',
  Data = 'E',  // internal RAM 00h..7Fh, direct
  Xdata = 'F',
  Idata = 'G',  // internal RAM, indirect
  Bit = 'H',
  Sfr = 'I',
  Sbit = 'J',
  Pdata = 'P',
  Register = 'R',
  None = 'Z',
};

// One element of a type chain, outermost first: "array of 16 of unsigned
// char" is {Array 16}, {Char}.
struct TypeElement {
  enum class Kind {
    Array,  // count = number of elements
    Function,
    GenericPointer,
    CodePointer,
    XdataPointer,
    DataPointer,
    IdataPointer,
    PdataPointer,
    Char,
    Short,
    Int,
    Long,
    LongLong,
    Float,
    Void,
    Bit,
    Sbit,
    Bitfield,  // count = first bit, width = number of bits
    Struct,    // name = structure tag
    Unknown,   // text = the letters as written
  };
  Kind kind = Kind::Unknown;
  unsigned count = 0;
  unsigned width = 0;
  std::string name;
};

struct Type {
  unsigned size = 0;  // bytes, as the record gives it
  std::vector<TypeElement> chain;
  bool isSigned = false;

  bool Empty() const { return chain.empty(); }
  const TypeElement* Base() const { return chain.empty() ? nullptr : &chain.back(); }
  bool IsInteger() const;  // char, short, int, long, bit types
  bool IsPointer() const;  // outermost element a pointer
  bool IsArray() const;    // outermost element an array
  bool IsStruct() const;   // a structure itself (not a pointer to one)
  bool IsFunction() const;
  // The type of one element of an array or of what a pointer points to:
  // the chain without its outermost element, with the element size.
  Type Element() const;
  // Readable C-like text: "unsigned char [16]", "struct stats", "int *".
  std::string Describe() const;
};

enum class ScopeKind { Global, File, Local };

struct Scope {
  ScopeKind kind = ScopeKind::Global;
  std::string module;    // File and Local: the module (source file name without .c)
  std::string function;  // Local: the function
  unsigned level = 0;    // nesting level of the declaring block
  unsigned block = 0;    // block number within the level
};

struct Variable {
  std::string name;
  Scope scope;
  Type type;
  Space space = Space::None;
  bool onStack = false;
  int stackOffset = 0;                   // on the stack: offset from the frame
  std::vector<std::string> registers;    // Register space: "r7", "r6", ... lowest byte first
  std::optional<std::uint32_t> address;  // from the linker's address record
  bool fromLinkerOnly = false;           // known only from an address record (no type)
};

struct Function {
  std::string name;
  std::string module;
  bool isStatic = false;  // file scope
  Type type;              // DF,<return type>
  Space space = Space::None;
  bool isInterrupt = false;
  int interruptNumber = 0;
  int registerBank = 0;
  std::optional<std::uint32_t> start;  // first instruction
  std::optional<std::uint32_t> end;    // last instruction (the ret)
};

struct StructMember {
  std::string name;
  unsigned offset = 0;
  Type type;
};

struct StructType {
  std::string name;
  std::string module;
  std::vector<StructMember> members;
};

struct LineRecord {
  std::string file;  // as written: "main.c"
  unsigned line = 0;
  unsigned level = 0;
  unsigned block = 0;
  std::uint32_t address = 0;
};

struct AsmLineRecord {
  std::string module;
  unsigned line = 0;
  std::uint32_t address = 0;
};

struct File {
  std::vector<std::string> modules;  // in file order
  std::vector<Function> functions;
  std::vector<Variable> variables;  // globals, file statics and locals
  std::vector<StructType> structs;
  std::vector<LineRecord> lines;  // in file order
  std::vector<AsmLineRecord> asmLines;

  const StructType* FindStruct(const std::string& name) const;
};

// Parses a whole .cdb text. Lines it does not understand are skipped and
// counted in `skipped`; nothing in a .cdb is fatal but an unreadable file.
File Parse(const std::string& text, int* skipped = nullptr);

// One type chain as written inside "({size}...)", for tests and tools.
Type ParseType(const std::string& text);

}  // namespace kz51::cdb
