#pragma once

void CheckStartup();
