#include "platform/program_identity.h"

namespace platform {
namespace {

ProgramIdentity g_identity;  // set once at start, read-only afterwards

}  // namespace

void SetProgramIdentity(const ProgramIdentity& identity) { g_identity = identity; }

const ProgramIdentity& GetProgramIdentity() { return g_identity; }

}  // namespace platform
