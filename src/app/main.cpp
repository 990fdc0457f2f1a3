#include "ReadoutApp.h"

int main(int argc, char** argv)
{
    varnel::CReadoutApp app(argc, argv);
    return app.InitInstance();
}
