// Product name and version, shared by the program and its windows.
namespace tesselo {
const char* productName() { return "Tesselo"; }
}  // namespace tesselo
