// The stand-in's module and process calls: which functions "kernel32"
// offers, and the mitigation policies the process asked for.
#pragma once

namespace standin_impl {

void ResetKernel();

}  // namespace standin_impl
