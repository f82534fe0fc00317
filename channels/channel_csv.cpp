#include "channels/channel_csv.h"
