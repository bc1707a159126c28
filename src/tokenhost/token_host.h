// The Linux host's certificate commands read the token the members use.
#pragma once

#include "token/token_store.h"

namespace zvhost {

void UseTokenStore(zvcert::TokenStore* store);

}  // namespace zvhost
