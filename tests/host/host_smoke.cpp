// A host built only from the public header and the shipped library: create,
// init against the fake transport, send, release.
#include <IOrlin.h>

#include "../support/NullOwner.h"

#include <stdio.h>
#include <string.h>

class QuietOwner : public NullOwner
{
public:
    int logs = 0;
    void OnLog(const char*) override { ++logs; }
};

int main()
{
    QuietOwner owner;
    IOrlin* p = NewInterface();
    if (!p) {
        fprintf(stderr, "NewInterface returned null\n");
        return 1;
    }
    const int init = p->Init(&owner, "127.0.0.1", 1883, 0, 0);
    const char text[] = "hello";
    const int sent = p->SendData("peer", text, static_cast<int>(strlen(text)), 3000);
    ReleaseInterface(p);
    ReleaseInterface(nullptr);
    printf("init=%d send=%d logs=%d\n", init, sent, owner.logs);
    return init == 0 && sent == 0 && owner.logs > 0 ? 0 : 1;
}
