#pragma once
namespace velmor {
int RunWindow(int argc, char** argv);
}
