// One installation or update, from stopping the product to the final check.
#pragma once

// Thread body; never lets an exception escape.
void installWorker();
