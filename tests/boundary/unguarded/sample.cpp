extern "C" {

int guarded_export(int value) {
    return vorpix::guarded("guarded_export", -1, [&] { return value; });
}

int unguarded_export(int value) {
    return vorpix::guarded("unguarded_export", -1, [&] { return value; }) + 1;
}
}
