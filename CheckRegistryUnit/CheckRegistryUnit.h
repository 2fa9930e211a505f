#pragma once

void CheckRegistry();
