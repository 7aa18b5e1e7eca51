// Compiled as a toolkit target would be: the key-store header must refuse it.
#include "platform/keystore/KeyStore.h"
