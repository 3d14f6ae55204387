// Ends running copies of the product so its files can be replaced.
#pragma once

// Terminates every "Ostrel.exe" and "OstrelService.exe" except this process, waits up to
// 3 s for each, then pauses 500 ms. Blocks the calling thread.
void stopRunningProducts();
