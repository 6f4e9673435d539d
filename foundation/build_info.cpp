// The foundation library's own identity, so the library is never empty.
namespace foundation {
const char* library_name() { return "zrkfoundation"; }
}  // namespace foundation
