// The ODBC provider of the data-access layer (internal to platform/ado).

#ifndef VAVIZAR_PLATFORM_ADO_ODBC_PROVIDER_H_
#define VAVIZAR_PLATFORM_ADO_ODBC_PROVIDER_H_

#include "platform/ado/open.h"

namespace vz::ado {

// Connects through the ODBC driver manager with `connection_string` as it
// is (Driver=..., DSN=..., FileDSN=...), asking the driver for read-only
// access. Raises -2147467259 with the driver's diagnostics on failure.
com::Ref<DatabaseConnection> OpenOdbc(const Text& connection_string);

}  // namespace vz::ado

#endif  // VAVIZAR_PLATFORM_ADO_ODBC_PROVIDER_H_
