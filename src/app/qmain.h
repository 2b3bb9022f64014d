#pragma once

// The process entry: picks the run, keeps one instance, shows the panel and ends with a hard exit.
int qMain(int argc, char** argv);
