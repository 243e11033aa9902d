#pragma once
// The code-trust library: the trust decision for a file, the trusted-signer
// list, and trust-checked loading and COM creation.
#include "trust/NotComDll.h"
#include "trust/TrustFileSigners.h"
#include "trust/TrustLoad.h"
#include "trust/TrustPolicy.h"
#include "trust/TrustValidator.h"
#include "trust/TrustedList.h"
