// Asio as the built-in transport uses it: standalone, without the deprecated interfaces.
#pragma once

#ifndef ASIO_STANDALONE
#define ASIO_STANDALONE 1
#endif
#ifndef ASIO_NO_DEPRECATED
#define ASIO_NO_DEPRECATED 1
#endif
#include <asio.hpp>
